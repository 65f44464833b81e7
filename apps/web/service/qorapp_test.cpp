#include "apps/web/service/qorapp.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstring>

#include "apps/web/service/test/qorapp_fixture.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace devices = catalogue::MemExternalDevices;
namespace media = catalogue::MemMedia;
namespace persistent = catalogue::MemPersistent;
using qortest::kHead;

class QorAppTest : public ::testing::Test {
 protected:
  QorAppTest() : app("board7", "SN99", qortest::pathsIn(dir)) {}

  std::string get(const std::string& path, int version = 1, const std::string& method = "GET") {
    return qortest::serve(app, version, {{"PATH_INFO", path}, {"REQUEST_METHOD", method}});
  }
  // Free space moves while the test runs; its figure is compared apart.
  static std::string withoutAvailable(std::string document) {
    size_t at = document.find("\"space_available\": ");
    if (at == std::string::npos) return document;
    at += 19;
    size_t end = document.find(',', at);
    uint64_t shown = std::stoull(document.substr(at, end - at));
    struct statvfs fs;
    EXPECT_EQ(statvfs("/", &fs), 0);
    EXPECT_NEAR(static_cast<double>(shown), static_cast<double>(uint64_t{fs.f_bavail} * fs.f_bsize),
                64.0 * 1024 * 1024);
    document.erase(at, end - at);
    return document.insert(at, 1, 'N');
  }
  void putText(char* at, const std::string& text) { std::memcpy(at, text.data(), text.size()); }
  char* device(int index) {
    return segments.externalDevices() + devices::PeltDeviceList.offset + index * catalogue::PeltDevice::kSize;
  }
  void connect(int index, const std::string& name, int32_t serial, const std::string& version) {
    device(index)[0] = 1;
    std::memcpy(device(index) + catalogue::PeltDevice::PeltSerNumber.offset, &serial, 4);
    putText(device(index) + catalogue::PeltDevice::PeltDeviceName.offset, name);
    putText(device(index) + catalogue::PeltDevice::PeltMainSwVersion.offset, version);
  }
  // The part of the document before the accessory list, with this machine's figures.
  std::string documentHead(const std::string& name, const std::string& version) {
    struct statvfs fs;
    EXPECT_EQ(statvfs("/", &fs), 0);
    return "{\r\n  \"_id\": \"board7-SN99\",\r\n  \"name\": \"" + name + "\",\r\n  \"serialnumber\": \"SN99\",\r\n" +
           "  \"firmwareversion\": \"" + version +
           "\",\r\n  \"space_total\": " + std::to_string(static_cast<unsigned long long>(fs.f_blocks) * fs.f_bsize) +
           ",\r\n  \"space_available\": " + std::to_string(static_cast<unsigned long long>(fs.f_bavail) * fs.f_bsize) +
           ",\r\n  \"devices\": [\r\n";
  }

  qortest::TempDir dir;
  qortest::Segments segments;
  QorApp app;
};

TEST_F(QorAppTest, DeviceDocumentListsConnectedAccessoriesInIndexOrder) {
  putText(segments.persistent() + persistent::ProductName.offset, "Hand \"Unit\"");
  putText(segments.persistent() + persistent::ProductVersion.offset, "3.2.1");
  EXPECT_EQ(withoutAvailable(get("/device/info")),
            withoutAvailable(kHead + documentHead(R"(Hand \"Unit\")", "3.2.1") + "\r\n  ]\r\n}\r\n"));

  connect(5, "MOTOR", -7, "2.0");
  connect(2, "RANGER", 1234, "1.5");
  device(9)[1] = 1;  // only the first byte tells whether an entry is connected
  std::string accessories =
      "    {\r\n      \"_id\": \"RANGER-1234\",\r\n      \"name\": \"RANGER\",\r\n"
      "      \"serialnumber\": \"1234\",\r\n      \"firmwareversion\": \"1.5\"\r\n    }, \r\n"
      "    {\r\n      \"_id\": \"MOTOR--7\",\r\n      \"name\": \"MOTOR\",\r\n"
      "      \"serialnumber\": \"-7\",\r\n      \"firmwareversion\": \"2.0\"\r\n    }";
  std::string expected = kHead + documentHead(R"(Hand \"Unit\")", "3.2.1") + accessories + "\r\n  ]\r\n}\r\n";
  EXPECT_EQ(withoutAvailable(get("/device/info")), withoutAvailable(expected));
  // Any method, either version.
  EXPECT_EQ(withoutAvailable(get("/device/info", 2, "POST")), withoutAvailable(expected));
}

TEST_F(QorAppTest, DeviceTextsWithoutTerminatorEndAtTheirField) {
  putText(segments.persistent() + persistent::ProductName.offset, std::string(20, 'N'));
  putText(segments.persistent() + persistent::ProductVersion.offset, std::string(20, 'V'));
  segments.persistent()[40] = 'X';
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
  EXPECT_EQ(qortest::serve(app, 1, {}), unknown);  // no PATH_INFO at all

  for (const char* path : {"/device/status", "/device/status/", "/device/statusx"})
    EXPECT_EQ(get(path), std::string(kHead) + "{\"status\": \"NoFileSelected\", \"progress\": 0 }") << path;
  EXPECT_EQ(get("/device/update"), std::string(kHead) + "{\"result\": \"Invalid content type\" }");

  // The folder routes reach the right folders, and only the lists differ between the versions.
  std::filesystem::create_directories(dir / "lens");
  std::filesystem::create_directories(dir / "rings");
  std::filesystem::create_directories(dir / "setups");
  qortest::writeFile(dir / "lens/l.tab", "L");
  qortest::writeFile(dir / "rings/r.for", "R");
  qortest::writeFile(dir / "setups/s.stp", "S");
  EXPECT_EQ(get("/lenstables/list"), std::string(kHead) + "[\r\n\"l.tab\"\r\n]");
  EXPECT_EQ(get("/focusrings/list"), std::string(kHead) + "[\r\n\"r.for\"\r\n]");
  EXPECT_EQ(get("/setups/list"), std::string(kHead) + "[\r\n\"s.stp\"\r\n]");
  EXPECT_EQ(
      get("/lenstables/list", 2),
      std::string(kHead) + "{\r\n\t\"name\": \"\",\r\n\t\"content\": [\r\n\t\t{ \"name\": \"l.tab\" }\r\n\t]\r\n}");
  EXPECT_EQ(get("/lenstables/file/l.tab"), std::string(kHead) + "L");
  EXPECT_EQ(get("/focusrings/file/r.for", 2), std::string(kHead) + "R");
  EXPECT_EQ(get("/setups/file/s.stp"), std::string(kHead) + "S");
  EXPECT_EQ(get("/setups/file"), std::string(kHead) + "{\"result\": \"No such file\" }");
  EXPECT_EQ(get("/setups/file/"), std::string(kHead) + "{\"result\": \"No such file\" }");
  EXPECT_EQ(get("/lenstables/filel.tab"), std::string(kHead) + "L");  // the folder ends in a slash
}

TEST_F(QorAppTest, NullRequestIsIgnored) { app.handleRequest(nullptr, 1); }

}  // namespace
