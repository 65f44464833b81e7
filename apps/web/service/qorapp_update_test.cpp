#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "apps/web/service/test/qorapp_fixture.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace devices = catalogue::MemExternalDevices;
namespace media = catalogue::MemMedia;
namespace fs = std::filesystem;
using qortest::kHead;
using Events = std::vector<uint32_t>;
const uint32_t kState = devices::PeltUpdateState.event.event, kProgress = devices::PeltUpdateProgress.event.event,
               kFile = devices::PeltUpdateFileName.event.event, kSerial = devices::PeltUpdateDeviceSerial.event.event,
               kName = devices::PeltUpdateDeviceName.event.event;

class QorAppUpdateTest : public qortest::AppTest {
 protected:
  QorAppUpdateTest() { fs::create_directories(dir / "update"); }

  static std::string body(const std::string& deviceId, const std::string& content) {
    return "--sep\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\n" + deviceId +
           "\r\n--sep\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x.bin\"\r\n\r\n" + content +
           "\r\n--sep--\r\n";
  }
  std::string upload(const std::string& requestBody, const std::string& type = "multipart/form-data; boundary=sep") {
    return serve(app, 1, {{"PATH_INFO", "/device/update"}, {"CONTENT_TYPE", type}}, requestBody);
  }
  std::string status() { return serve(app, 2, {{"PATH_INFO", "/device/status"}}); }
  static std::string result(const std::string& text) { return std::string(kHead) + "{\"result\": \"" + text + "\" }"; }
  static std::string taskId(const std::string& id) { return std::string(kHead) + "{\"taskid\": \"" + id + "\" }"; }
  static std::string state(const std::string& name, int32_t progress = 0) {
    return std::string(kHead) + "{\"status\": \"" + name + "\", \"progress\": " + std::to_string(progress) + " }";
  }
  std::string text(const char* memory, uint32_t offset) { return memory + offset; }
  char* devices() { return gMemExternalDevices; }
};

TEST_F(QorAppUpdateTest, UnitUpdateWaitsForTheGoAheadAndAccessoryUpdateResetsAndAnnouncesInOrder) {
  EXPECT_EQ(upload(body("HU-77", "FIRMWARE\r\n")), taskId("HU-77"));
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "FIRMWARE\r\n");
  EXPECT_FALSE(fs::exists(paths.uploadFile));
  EXPECT_EQ(text(gMemMedia, media::HostUpdateFileName.offset), paths.hostUpdateFile);
  EXPECT_EQ(qortest::postedEvents(), (Events{media::HostUpdateFileName.event.event}));
  EXPECT_FALSE(fs::exists(paths.postDataDump));  // only kept at the most verbose level

  // The same name again is no change.
  EXPECT_EQ(upload(body("HU-77", "v2")), taskId("HU-77"));
  EXPECT_EQ(qortest::postedEvents(), Events{});

  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 2);
  EXPECT_EQ(status(), state("Rebooting"));
  EXPECT_EQ(status(), state("Rebooting"));
  EXPECT_EQ(gMemMedia[media::HostUpdateStart.offset], 1);
  EXPECT_EQ(qortest::postedEvents(), (Events{media::HostUpdateStart.event.event}));  // the go-ahead once

  // Once the unit's own update was accepted, the status stays the unit's.
  EXPECT_EQ(upload(body("ABC-1", "x")), taskId("ABC-1"));
  qortest::setInt(devices(), devices::PeltUpdateState.offset, 10);
  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 10);
  EXPECT_EQ(status(), state("Success"));

  threshold = gen::DebugAll;
  const std::string raw = body("HU-77", std::string("\0raw", 4));
  upload(raw);
  EXPECT_EQ(qortest::readFile(paths.postDataDump), raw);
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), std::string("\0raw", 4));

  // An accessory's update resets its state and announces in order.
  qortest::postedEvents();
  qortest::setInt(devices(), devices::PeltUpdateState.offset, 5);
  qortest::setInt(devices(), devices::PeltUpdateProgress.offset, 30);
  std::strcpy(devices() + devices::PeltUpdateFileName.offset, paths.clientUpdateFile.c_str());

  EXPECT_EQ(upload(body("ABC-DEF-42", "CMF")), taskId("ABC-DEF-42"));
  EXPECT_EQ(qortest::readFile(paths.clientUpdateFile), "CMF");
  EXPECT_EQ(qortest::postedEvents(), (Events{kState, kProgress, kFile, kFile, kSerial, kName}));
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateState.offset), 0);
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateProgress.offset), 0);
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateDeviceSerial.offset), 42);
  EXPECT_EQ(text(devices(), devices::PeltUpdateDeviceName.offset), "ABC-DEF");
  EXPECT_EQ(text(devices(), devices::PeltUpdateFileName.offset), paths.clientUpdateFile);

  // The file name is announced for every upload; the rest only when it changes.
  EXPECT_EQ(upload(body("ABC-DEF-42", "CMF")), taskId("ABC-DEF-42"));
  EXPECT_EQ(qortest::postedEvents(), (Events{kFile, kFile}));
  EXPECT_EQ(upload(body("X- +12abc", "CMF")), taskId("X- +12abc"));
  EXPECT_EQ(qortest::postedEvents(), (Events{kFile, kFile, kSerial, kName}));
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateDeviceSerial.offset), 12);
  EXPECT_EQ(text(devices(), devices::PeltUpdateDeviceName.offset), "X");

  // A name longer than its field is cut to 49 bytes.
  EXPECT_EQ(upload(body(std::string(60, 'N') + "-1", "CMF")), taskId(std::string(60, 'N') + "-1"));
  EXPECT_EQ(text(devices(), devices::PeltUpdateDeviceName.offset), std::string(49, 'N'));
}

TEST_F(QorAppUpdateTest, AccessoryStatusReportsProgressOverAllPartsGoesAheadOnceAndRefusedUploadsChangeNothing) {
  EXPECT_EQ(status(), state("NoFileSelected"));
  // Values another process left behind, the last pair overflowing 32 bits on the way.
  const struct {
    int32_t state, progress, index, count;
    std::string expected;
  } reports[] = {{13, 50, 1, 4, state("InProgress", 37)},   {13, -350, 1, 4, state("InProgress", -62)},
                 {13, -350, 1, 0, state("InProgress")},     {13, -350, INT32_MIN, -1, state("InProgress", 350)},
                 {14, 0, 0, 0, state("INVALID_VALUE: 14")}, {-1, 0, 0, 0, state("INVALID_VALUE: -1")}};
  for (const auto& report : reports) {
    qortest::setInt(devices(), devices::PeltUpdateState.offset, report.state);
    qortest::setInt(devices(), devices::PeltUpdateProgress.offset, report.progress);
    qortest::setInt(devices(), devices::PeltUpdateIndex.offset, report.index);
    qortest::setInt(devices(), devices::PeltUpdateCount.offset, report.count);
    EXPECT_EQ(status(), report.expected);
  }
  EXPECT_EQ(qortest::postedEvents(), Events{});

  qortest::setInt(devices(), devices::PeltUpdateState.offset, 2);
  EXPECT_EQ(status(), state("FileValid"));
  EXPECT_EQ(status(), state("FileValid"));
  EXPECT_EQ(devices()[devices::PeltUpdateStart.offset], 1);
  EXPECT_EQ(qortest::postedEvents(), (Events{devices::PeltUpdateStart.event.event}));

  // Refused uploads change nothing.
  qortest::setInt(devices(), devices::PeltUpdateState.offset, 5);
  EXPECT_EQ(upload(body("HU-77", "x"), "text/plain"), result("Invalid content type"));
  EXPECT_EQ(upload("--sep\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nHU-77\r\n--sep--"),
            result("'deviceid' and 'file' are mandatory, but at least one is missing."));
  EXPECT_EQ(upload(body("HU77", "x")), result("'deviceid' has to be in the form DEVICE-SERIAL."));
  EXPECT_EQ(upload(body("ABC-", "x")), result("The serial number in 'deviceid' is not a number."));
  EXPECT_EQ(upload(body("ABC-2147483648", "x")), result("The serial number in 'deviceid' is out of range."));
  EXPECT_EQ(upload(body("ABC-99999999999999999999", "x")), result("The serial number in 'deviceid' is out of range."));
  EXPECT_FALSE(fs::exists(paths.clientUpdateFile));
  EXPECT_FALSE(fs::exists(paths.hostUpdateFile));

  // Without its folder the upload cannot be stored, so there is nothing to move.
  fs::remove_all(dir / "update");
  EXPECT_EQ(upload(body("ABC-1", "x")), result("Could not store the update file: No such file or directory"));
  EXPECT_EQ(upload(body("HU-77", "x")), result("Could not store the update file: No such file or directory"));
  EXPECT_EQ(qortest::postedEvents(), Events{});
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateState.offset), 5);
  EXPECT_EQ(text(gMemMedia, media::HostUpdateFileName.offset), "");
  // And the unit's update was never taken as pending.
  EXPECT_EQ(status(), state("FileNotCompatible"));
}

}  // namespace
