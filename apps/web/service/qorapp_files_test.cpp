#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "apps/web/service/test/qorapp_fixture.h"

namespace {
namespace fs = std::filesystem;
using qortest::kHead;

const std::string kSuccess = std::string(kHead) + "{\"result\": \"Success\" }";
const std::string kNoSuchFile = std::string(kHead) + "{\"result\": \"No such file\" }";
const std::string kOpenError = std::string(kHead) + "{\"result\": \"Open error\" }\r\n";

class QorAppFilesTest : public qortest::AppTest {
 protected:
  std::string call(const std::string& method, const std::string& path, const std::string& body = "", int version = 1) {
    return serve(app, version, {{"PATH_INFO", path}, {"REQUEST_METHOD", method}}, body);
  }
  std::string list(int version) { return call("GET", "/lenstables/list", "", version); }
  // Names of a folder in the order the directory yields them.
  static std::vector<std::string> names(const std::string& path) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path)) found.push_back(entry.path().filename().string());
    return found;
  }

  std::string folder = dir / "lens";
};

TEST_F(QorAppFilesTest, FlatListingHasOnlyRegularFilesAndNestedListingEveryEntry) {
  EXPECT_EQ(list(1), std::string(kHead) + "[\r\n]");  // missing folder: empty
  EXPECT_EQ(list(2), std::string(kHead) + "{\r\n\t\"name\": \"\",\r\n\t\"content\": [\r\n\r\n\t]\r\n}");
  fs::create_directories(folder + "/sub");
  EXPECT_EQ(list(1), std::string(kHead) + "[\r\n]");
  // A FIFO is listed like a file; a link back into the walk ends it, shown as an empty folder.
  ASSERT_EQ(mkfifo((folder + "/sub/pipe").c_str(), 0600), 0);
  fs::create_directory_symlink(folder, folder + "/sub/loop");
  std::string inner = names(folder + "/sub")[0] == "pipe"
                          ? "\t\t\t\t{ \"name\": \"pipe\" },\r\n\t\t\t\t{\r\n\t\t\t\t\t\"name\": \"loop\",\r\n"
                            "\t\t\t\t\t\"content\": [\r\n\r\n\t\t\t\t\t]\r\n\t\t\t\t}"
                          : "\t\t\t\t{\r\n\t\t\t\t\t\"name\": \"loop\",\r\n\t\t\t\t\t\"content\": [\r\n\r\n"
                            "\t\t\t\t\t]\r\n\t\t\t\t},\r\n\t\t\t\t{ \"name\": \"pipe\" }";
  EXPECT_EQ(list(2), std::string(kHead) + "{\r\n\t\"name\": \"\",\r\n\t\"content\": [\r\n\t\t{\r\n\t\t\t\"name\": " +
                         "\"sub\",\r\n\t\t\t\"content\": [\r\n" + inner + "\r\n\t\t\t]\r\n\t\t}\r\n\t]\r\n}");

  // Flat, in directory order.
  qortest::writeFile(folder + "/a.tab", "a");
  qortest::writeFile(folder + "/q\"uo\\te.stp", "b");
  qortest::writeFile(dir / "outside.tab", "c");
  fs::create_symlink(dir / "outside.tab", folder + "/link.tab");
  fs::create_directory_symlink(folder + "/sub", folder + "/dirlink");
  fs::create_symlink(dir / "gone", folder + "/dangling");
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);

  std::string expected = std::string(kHead) + "[";
  const char* separator = "\r\n";
  for (const std::string& name : names(folder)) {
    if (name == "sub" || name == "dirlink" || name == "dangling" || name == "fifo") continue;
    expected += separator + std::string(name == "q\"uo\\te.stp" ? "\"q\\\"uo\\\\te.stp\"" : "\"" + name + "\"");
    separator = ",\r\n";
  }
  EXPECT_EQ(list(1), expected + "\r\n]");
  EXPECT_NE(expected.find("link.tab"), std::string::npos);
}

TEST_F(QorAppFilesTest, PutGetDeleteOnlyInsideTheFolderLargeFilesInPiecesAndAFailedPutKeepsTheOldFile) {
  const std::string bytes("raw\0bytes\r\n\xff", 13);
  EXPECT_EQ(call("PUT", "/lenstables/file/t.tab", bytes), kSuccess);  // creates the folder
  EXPECT_EQ(qortest::readFile(folder + "/t.tab"), bytes);
  EXPECT_EQ(call("GET", "/lenstables/file/t.tab"), kHead + bytes);
  EXPECT_EQ(call("PUT", "/lenstables/file/t.tab", "short"), kSuccess);
  EXPECT_EQ(call("GET", "/lenstables/file/t.tab"), std::string(kHead) + "short");

  EXPECT_EQ(call("PUT", "/lenstables/file/nosub/t.tab", "x"), kOpenError);
  EXPECT_FALSE(fs::exists(folder + "/nosub"));
  EXPECT_EQ(call("POST", "/lenstables/file/t.tab", "x"), std::string(kHead) + "{\"result\": \"Unknown request\" }");
  EXPECT_EQ(qortest::readFile(folder + "/t.tab"), "short");

  EXPECT_EQ(call("DELETE", "/lenstables/file/t.tab"), kSuccess);
  EXPECT_FALSE(fs::exists(folder + "/t.tab"));
  EXPECT_EQ(call("DELETE", "/lenstables/file/t.tab"), kNoSuchFile);
  EXPECT_EQ(call("GET", "/lenstables/file/t.tab"), kNoSuchFile);

  // Names that leave the folder touch nothing outside.
  fs::create_directories(folder + "/sub");
  fs::create_directories(dir / "secret");
  qortest::writeFile(dir / "secret/key", "outside");
  fs::create_directory_symlink(dir / "secret", folder + "/escape");
  fs::create_symlink(dir / "secret/key", folder + "/keylink");
  fs::create_symlink(dir / "secret/new", folder + "/dangling");

  for (const char* name : {"/../secret/key", "/sub/../../secret/key", "/escape/key", "/keylink", "/..", ""}) {
    std::string path = std::string("/lenstables/file") + name;
    EXPECT_EQ(call("GET", path), kNoSuchFile) << name;
    EXPECT_EQ(call("PUT", path, "overwritten"), kOpenError) << name;
    EXPECT_EQ(call("DELETE", path), kNoSuchFile) << name;
  }
  EXPECT_EQ(call("PUT", "/lenstables/file/dangling", "created"), kOpenError);
  EXPECT_EQ(call("PUT", "/lenstables/file/../secret/new", "created"), kOpenError);
  EXPECT_EQ(qortest::readFile(dir / "secret/key"), "outside");
  EXPECT_FALSE(fs::exists(dir / "secret/new"));
  EXPECT_TRUE(fs::is_symlink(folder + "/keylink"));

  // Inside the folder, sub-folders and links that stay inside work as before.
  qortest::writeFile(folder + "/sub/in.tab", "in");
  fs::create_symlink(folder + "/sub/in.tab", folder + "/inlink");
  EXPECT_EQ(call("GET", "/lenstables/file/sub/in.tab"), std::string(kHead) + "in");
  EXPECT_EQ(call("GET", "/lenstables/file/inlink"), std::string(kHead) + "in");

  // Only regular files are read or written; neither may wait for a peer on a FIFO: the service has one thread.
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
  EXPECT_EQ(call("GET", "/lenstables/file/fifo"), kNoSuchFile);
  EXPECT_EQ(call("PUT", "/lenstables/file/fifo", "x"), kOpenError);
  EXPECT_EQ(call("GET", "/lenstables/file/sub"), kNoSuchFile);
  EXPECT_EQ(call("PUT", "/lenstables/file/sub", "x"), kOpenError);
  EXPECT_EQ(call("DELETE", "/lenstables/file/sub"), kNoSuchFile);
  EXPECT_TRUE(fs::is_directory(folder + "/sub"));
  fs::remove_all(folder);

  // Large files go out in many pieces, over several turns of the loop.
  std::string large(3 << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 + i / 65528);
  EXPECT_EQ(call("PUT", "/lenstables/file/large.tab", large), kSuccess);
  EXPECT_EQ(call("GET", "/lenstables/file/large.tab"), kHead + large);
  EXPECT_EQ(names(folder), std::vector<std::string>{"large.tab"});
  fs::remove(folder + "/large.tab");
  // A PUT that does not fit keeps the file it would replace.

  if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
  const std::string table(20 * 1024, 't');
  EXPECT_EQ(call("PUT", "/lenstables/file/lens.tab", table), kSuccess);
  EXPECT_EQ(call("PUT", "/lenstables/file/lens.tab", std::string(100 * 1024, 'n')),
            std::string(kHead) + "{\"result\": \"Write error: No space left on device\" }");
  EXPECT_EQ(qortest::readFile(folder + "/lens.tab"), table);
  EXPECT_EQ(names(folder), std::vector<std::string>{"lens.tab"});
  EXPECT_EQ(call("PUT", "/lenstables/file/lens.tab", "small"), kSuccess);  // and PUTs go on
  EXPECT_EQ(call("GET", "/lenstables/file/lens.tab"), std::string(kHead) + "small");
  ::umount(folder.c_str());
}

}  // namespace

TEST_F(QorAppFilesTest, OutOfDescriptorsEveryFileRouteAnswersAnErrorNeverAWrongResult) {
#if defined(__SANITIZE_ADDRESS__)
  // The undefined-behaviour checks test memory through a pipe of their own, which this test leaves no room for.
  GTEST_SKIP() << "the sanitizers need descriptors the test takes away";
#endif
  fs::create_directories(folder);
  qortest::writeFile(folder + "/t.tab", "kept");
  handler.onParams = [&](Request* request) { app.takeBody(request); };
  int version = 1;
  handler.onRequest = [&](Request* request) { app.handleRequest(request, version); };
  auto client = connect();
  const auto call = [&](const std::string& method, const std::string& path, const std::string& body = "") {
    return client->request({{"PATH_INFO", path}, {"REQUEST_METHOD", method}}, body, true).stdoutText;
  };
  const std::string listed = call("GET", "/lenstables/list");
  ASSERT_NE(listed.find("t.tab"), std::string::npos);  // and through the poll: see DescriptorLimit
  const std::string refused =
      "Status: 503 Service Unavailable\r\nContent-type: application/json\r\n\r\n{\"result\": \"Too many open files\" }";
  {
    DescriptorLimit limit(0);
    EXPECT_EQ(call("GET", "/lenstables/list"), refused);
    EXPECT_EQ(call("GET", "/lenstables/file/t.tab"), refused);
    EXPECT_EQ(call("PUT", "/lenstables/file/t.tab", "replaced"), refused);
    version = 2;
    EXPECT_EQ(call("GET", "/lenstables/list"), refused);
    EXPECT_EQ(call("GET", "/lenstables/file/none.tab"), refused);
  }
  EXPECT_EQ(call("GET", "/lenstables/file/none.tab"), kNoSuchFile);
  EXPECT_EQ(call("GET", "/lenstables/file/t.tab"), std::string(kHead) + "kept");
}
