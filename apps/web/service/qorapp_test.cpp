#include "apps/web/service/qorapp.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "apps/web/service/test/qorapp_fixture.h"
#include "gen/code/introspection_gen.h"
#include "tests/unit/child_process.h"

namespace {
namespace devices = catalogue::MemExternalDevices;
namespace persistent = catalogue::MemPersistent;
using qortest::kHead;

class QorAppTest : public qortest::AppTest {
 protected:
  std::string get(const std::string& path, int version = 1, const std::string& method = "GET") {
    return serve(app, version, {{"PATH_INFO", path}, {"REQUEST_METHOD", method}});
  }
  // This machine's space figures, blanked; they are checked on a root of known size below.
  static std::string withoutSpace(const std::string& document) {
    return std::regex_replace(document, std::regex(R"re("space_(total|available)": \d+,)re"), "N,");
  }
  void putText(char* at, const std::string& text) { std::memcpy(at, text.data(), text.size()); }
  char* device(int index) {
    return gMemExternalDevices + devices::PeltDeviceList.offset + index * catalogue::PeltDevice::kSize;
  }
  void connect(int index, const std::string& name, int32_t serial, const std::string& version) {
    device(index)[0] = 1;
    std::memcpy(device(index) + catalogue::PeltDevice::PeltSerNumber.offset, &serial, 4);
    putText(device(index) + catalogue::PeltDevice::PeltDeviceName.offset, name);
    putText(device(index) + catalogue::PeltDevice::PeltMainSwVersion.offset, version);
  }
};

TEST_F(QorAppTest, DeviceDocumentListsConnectedAccessoriesInIndexOrderWithTextsCutAtTheirField) {
  putText(gMemPersistent + persistent::ProductName.offset, "Hand \"Unit\"");
  putText(gMemPersistent + persistent::ProductVersion.offset, "3.2.1");
  const std::string head = std::string(kHead) +
                           "{\r\n  \"_id\": \"HU-77\",\r\n  \"name\": \"Hand \\\"Unit\\\"\",\r\n  \"serialnumber\": "
                           "\"77\",\r\n  \"firmwareversion\": \"3.2.1\",\r\n  N,\r\n  N,\r\n  \"devices\": [\r\n";
  EXPECT_EQ(withoutSpace(get("/device/info")), head + "\r\n  ]\r\n}\r\n");

  connect(5, "MOTOR", -7, "2.0");
  connect(2, "RANGER", 1234, "1.5");
  device(9)[1] = 1;  // only the first byte tells whether an entry is connected
  std::string accessories =
      "    {\r\n      \"_id\": \"RANGER-1234\",\r\n      \"name\": \"RANGER\",\r\n"
      "      \"serialnumber\": \"1234\",\r\n      \"firmwareversion\": \"1.5\"\r\n    }, \r\n"
      "    {\r\n      \"_id\": \"MOTOR--7\",\r\n      \"name\": \"MOTOR\",\r\n"
      "      \"serialnumber\": \"-7\",\r\n      \"firmwareversion\": \"2.0\"\r\n    }";
  EXPECT_EQ(withoutSpace(get("/device/info")), head + accessories + "\r\n  ]\r\n}\r\n");
  // Any method, either version.
  EXPECT_EQ(withoutSpace(get("/device/info", 2, "POST")), head + accessories + "\r\n  ]\r\n}\r\n");

  // Texts without a terminator end at their field.
  putText(gMemPersistent + persistent::ProductName.offset, std::string(20, 'N'));
  putText(gMemPersistent + persistent::ProductVersion.offset, std::string(20, 'V'));
  gMemPersistent[40] = 'X';
  connect(0, std::string(50, 'D'), 1, std::string(50, 'F'));
  device(0)[catalogue::PeltDevice::PeltMainSwVersion.offset + 50] = 'X';
  std::string answer = get("/device/info");
  EXPECT_NE(answer.find("\"name\": \"" + std::string(20, 'N') + "\",\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("\"firmwareversion\": \"" + std::string(20, 'V') + "\",\r\n"), std::string::npos);
  EXPECT_NE(answer.find("\"_id\": \"" + std::string(50, 'D') + "-1\""), std::string::npos);
  EXPECT_NE(answer.find("\"firmwareversion\": \"" + std::string(50, 'F') + "\"\r\n"), std::string::npos);
  EXPECT_EQ(answer.find('X'), std::string::npos);
}

TEST_F(QorAppTest, RoutesOnPrefixesAndAnswersEverythingElseAsUnknown) {
  const std::string unknown = std::string(kHead) + "{\"result\": \"Unknown request\" }";
  for (const char* path : {"", "/", "/device", "/device/", "/device/infox", "/device/updates", "/devices/info",
                           "/lenstables", "/lenstables/", "/lenstables/list/", "/lenstables/lists", "/focusrings/x",
                           "/setups/lis", "/other/list", "/qorapp/v1/device/info"})
    EXPECT_EQ(get(path), unknown) << path;
  EXPECT_EQ(serve(app, 1, {}), unknown);  // no PATH_INFO at all

  for (const char* path : {"/device/status", "/device/status/", "/device/statusx"})
    EXPECT_EQ(get(path), std::string(kHead) + "{\"status\": \"NoFileSelected\", \"progress\": 0 }") << path;
  EXPECT_EQ(get("/device/update"), std::string(kHead) + "{\"result\": \"Invalid content type\" }");

  // The folder routes reach their own folders.
  const std::string noSuchFile = std::string(kHead) + "{\"result\": \"No such file\" }";
  for (const auto& [route, folder] :
       {std::pair{"/lenstables/", "lens"}, {"/focusrings/", "rings"}, {"/setups/", "setups"}}) {
    SCOPED_TRACE(route);
    std::filesystem::create_directories(dir / folder);
    qortest::writeFile(dir / folder + "/f", folder);
    EXPECT_EQ(get(route + std::string("list")), std::string(kHead) + "[\r\n\"f\"\r\n]");
    EXPECT_EQ(get(route + std::string("file/f"), 2), kHead + std::string(folder));
    EXPECT_EQ(get(route + std::string("file")), noSuchFile);
    EXPECT_EQ(get(route + std::string("file/")), noSuchFile);
  }
  EXPECT_EQ(get("/lenstables/filef"), std::string(kHead) + "lens");  // the folder ends in a slash
}

TEST_F(QorAppTest, NullRequestIsIgnored) { EXPECT_NO_THROW(app.handleRequest(nullptr, 1)); }

// On the unit a block count times the block size does not fit the 32-bit unsigned long statvfs reports.
TEST_F(QorAppTest, SpaceAboveFourGibibytesIsReportedWhole) {
  qortest::TempDir mountPoint;
  // In a child whose root is an empty tmpfs of 6 GiB (2 GiB when wrapped to 32 bits), all of it available.
  EXPECT_TRUE(testsupport::passesInChild([&] {
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(::mount("space", mountPoint.path().c_str(), "tmpfs", 0, "size=6g"), 0);
    ASSERT_EQ(::chroot(mountPoint.path().c_str()), 0);
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_NE(get("/device/info").find("\"space_total\": 6442450944,\r\n  \"space_available\": 6442450944,\r\n"),
              std::string::npos);
  }));
}

}  // namespace
