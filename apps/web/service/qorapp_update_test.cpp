#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cstring>
#include <filesystem>
#include <set>

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
               kName = devices::PeltUpdateDeviceName.event.event, kStart = devices::PeltUpdateStart.event.event,
               kIndex = devices::PeltUpdateIndex.event.event, kCount = devices::PeltUpdateCount.event.event,
               kHostName = media::HostUpdateFileName.event.event, kHostState = media::HostUpdateFileState.event.event,
               kHostStart = media::HostUpdateStart.event.event;
using Names = std::set<std::string>;
const char* const kBusy = "Busy: an update is being installed; try again once it has ended.";

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
  Names updateFolder() {
    Names names;
    for (const auto& entry : fs::directory_iterator(dir / "update")) names.insert(entry.path().filename().string());
    return names;
  }
};

TEST_F(QorAppUpdateTest, EveryUploadIsAnnouncedAndResetNoneReplacesAnInstallAndStatusFollowsTheLastTarget) {
  EXPECT_EQ(upload(body("HU-77", "FIRMWARE\r\n")), taskId("HU-77"));
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "FIRMWARE\r\n");
  EXPECT_EQ(updateFolder(), (Names{"host.swu"}));  // no temporary file, no file-from-app
  EXPECT_EQ(text(gMemMedia, media::HostUpdateFileName.offset), paths.hostUpdateFile);
  EXPECT_EQ(qortest::postedEvents(), (Events{kHostName}));
  EXPECT_FALSE(fs::exists(paths.postDataDump));

  // A second update of the unit under the same name is checked anew: state cleared, name cleared and set again.
  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 4);
  EXPECT_EQ(upload(body("HU-77", "v2")), taskId("HU-77"));
  EXPECT_EQ(qortest::postedEvents(), (Events{kHostState, kHostName, kHostName}));
  EXPECT_EQ(qortest::getInt(gMemMedia, media::HostUpdateFileState.offset), 0);
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "v2");

  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 2);
  EXPECT_EQ(status(), state("Rebooting"));
  EXPECT_EQ(status(), state("Rebooting"));
  EXPECT_EQ(gMemMedia[media::HostUpdateStart.offset], 1);
  EXPECT_EQ(qortest::postedEvents(), (Events{kHostStart}));  // the go-ahead once

  // While the go-ahead stands and the updater works, no upload replaces its file.
  EXPECT_EQ(upload(body("ABC-1", "x")), result(kBusy));
  EXPECT_EQ(upload(body("HU-77", "v3")), result(kBusy));
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "v2");
  EXPECT_EQ(updateFolder(), (Names{"host.swu"}));
  EXPECT_EQ(qortest::postedEvents(), Events{});

  // Once it has ended, the status follows the last upload's target, here an accessory.
  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 10);
  qortest::setInt(devices(), devices::PeltUpdateState.offset, 5);
  qortest::setInt(devices(), devices::PeltUpdateProgress.offset, 30);
  qortest::setInt(devices(), devices::PeltUpdateIndex.offset, 1);
  qortest::setInt(devices(), devices::PeltUpdateCount.offset, 2);
  devices()[devices::PeltUpdateStart.offset] = 1;
  std::strcpy(devices() + devices::PeltUpdateFileName.offset, paths.clientUpdateFile.c_str());
  EXPECT_EQ(upload(body("ABC-DEF-42", "CMF")), taskId("ABC-DEF-42"));
  EXPECT_EQ(qortest::readFile(paths.clientUpdateFile), "CMF");
  EXPECT_EQ(qortest::postedEvents(), (Events{kState, kProgress, kStart, kIndex, kCount, kFile, kFile, kSerial, kName}));
  for (const auto& place :
       {devices::PeltUpdateState, devices::PeltUpdateProgress, devices::PeltUpdateIndex, devices::PeltUpdateCount})
    EXPECT_EQ(qortest::getInt(devices(), place.offset), 0);
  EXPECT_EQ(devices()[devices::PeltUpdateStart.offset], 0);
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateDeviceSerial.offset), 42);
  EXPECT_EQ(text(devices(), devices::PeltUpdateDeviceName.offset), "ABC-DEF");
  EXPECT_EQ(text(devices(), devices::PeltUpdateFileName.offset), paths.clientUpdateFile);
  EXPECT_EQ(status(), state("NoFileSelected"));

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

  // And back to the unit, with the body kept at the most verbose level.
  qortest::setInt(gMemMedia, media::HostUpdateFileState.offset, 1);
  threshold = gen::DebugAll;
  const std::string raw = body("HU-77", std::string("\0raw", 4));
  EXPECT_EQ(upload(raw), taskId("HU-77"));
  EXPECT_EQ(qortest::readFile(paths.postDataDump), raw);
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), std::string("\0raw", 4));
  EXPECT_EQ(status(), state("NoFileSelected"));
}

TEST_F(QorAppUpdateTest, FailedUploadsKeepTheGoodFileAnnounceNothingAndLeaveNoTemporaryFile) {
  EXPECT_EQ(upload(body("HU-77", "GOOD")), taskId("HU-77"));
  qortest::postedEvents();
  const auto unchanged = [&](const char* phase) {
    SCOPED_TRACE(phase);
    EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "GOOD");
    EXPECT_EQ(updateFolder(), (Names{"host.swu"}));
    EXPECT_EQ(qortest::postedEvents(), Events{});
  };
  // Cut before its closing delimiter.
  std::string whole = body("HU-77", "NEW");
  EXPECT_EQ(upload(whole.substr(0, whole.size() - 9)), result("The upload ended before its closing delimiter."));
  unchanged("cut body");
  // Two files in one form.
  const std::string second = "--sep\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nA\r\n";
  EXPECT_EQ(upload(second + second + "--sep--"), result("The upload holds a second part named 'file'."));
  unchanged("second file");

  // A full disk: a small file system in a mount namespace of this test's own.
  if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", (dir / "update").c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
  qortest::writeFile(paths.hostUpdateFile, "GOOD");
  EXPECT_EQ(upload(body("HU-77", std::string(100 * 1024, 'f'))),
            result("Could not store the update file: No space left on device"));
  unchanged("full disk");
  EXPECT_EQ(upload(body("HU-77", "SMALL")), taskId("HU-77"));  // and the service goes on
  EXPECT_EQ(qortest::readFile(paths.hostUpdateFile), "SMALL");
  ::umount((dir / "update").c_str());
}

TEST_F(QorAppUpdateTest, AccessoryStatusReportsProgressOverAllPartsGoesAheadOnceAndRefusedUploadsChangeNothing) {
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
  EXPECT_EQ(updateFolder(), Names{});  // neither a target nor a temporary file

  // Without its folder the upload cannot be stored, so there is nothing to move.
  fs::remove_all(dir / "update");
  EXPECT_EQ(upload(body("HU-77", "x")), result("Could not store the update file: No such file or directory"));
  EXPECT_EQ(qortest::postedEvents(), Events{});
  EXPECT_EQ(qortest::getInt(devices(), devices::PeltUpdateState.offset), 5);
  EXPECT_EQ(text(gMemMedia, media::HostUpdateFileName.offset), "");
  // And the unit's update was never taken as pending.
  EXPECT_EQ(status(), state("FileNotCompatible"));
}

}  // namespace
