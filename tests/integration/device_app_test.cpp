// The device app behind the unit's HTTP front: identity from the hardware block, folders, and uploads
// that the simulated update machinery checks and installs once the status route gives the go-ahead.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/sandbox_harness.h"

namespace {

class DeviceApp : public ::testing::Test {
 protected:
  explicit DeviceApp(const std::string& startup = "start-unit.sh --factory-block 4711 mainboard --updater")
      : unit(startup) {}

  void SetUp() override {
    ASSERT_TRUE(unit.waitUntilRunning());
    std::string output;
    ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  }

  std::string app(const std::string& path, const std::string& options = "") const {
    return unit.curl(options + " http://127.0.0.1:8080/qorapp/v1" + path);
  }

  // Status answers, each distinct one once, until the state is final or time runs out.
  std::vector<std::string> followStatus() const {
    std::vector<std::string> seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string answer = app("/device/status");
      if (seen.empty() || seen.back() != answer) seen.push_back(answer);
      if (answer.find("Success") != std::string::npos || answer.find("File") == 13) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return seen;
  }

  Sandbox unit;
};

TEST_F(DeviceApp, UnitUpdateIsCheckedStartedAndInstalled) {
  const std::string info = app("/device/info");
  EXPECT_EQ(
      info.rfind("{\r\n  \"_id\": \"mainboard-4711\",\r\n  \"name\": \"\",\r\n  \"serialnumber\": \"4711\",\r\n", 0),
      0u)
      << info;

  ASSERT_EQ(unit.run("head -c 3000000 /dev/urandom >/tmp/unit.swu"), 0);
  EXPECT_EQ(app("/device/update", "-F deviceid=mainboard-4711 -F file=@/tmp/unit.swu"),
            "{\"taskid\": \"mainboard-4711\" }");
  EXPECT_EQ(unit.run("cmp /tmp/unit.swu /update/host.swu"), 0);

  std::vector<std::string> seen = followStatus();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "{\"status\": \"Success\", \"progress\": 0 }");
  // A file found valid is reported as the reboot into it; the install follows only after that go-ahead.
  bool goAhead = false;
  for (const std::string& answer : seen) {
    if (answer.find("Rebooting") != std::string::npos) goAhead = true;
    bool installing = answer.find("InProgress") != std::string::npos || answer.find("CopyingFile") != std::string::npos;
    EXPECT_TRUE(goAhead || !installing) << answer;
  }
  EXPECT_TRUE(goAhead);
}

TEST_F(DeviceApp, AccessoryUpdateRunsOverAllPartsToSuccess) {
  ASSERT_EQ(unit.run("printf 'client image' >/tmp/a.cmf"), 0);
  EXPECT_EQ(app("/device/update", "-F deviceid=ABC-DEF-42 -F file=@/tmp/a.cmf"), "{\"taskid\": \"ABC-DEF-42\" }");
  EXPECT_EQ(unit.run("test \"$(cat /update/client.cmf)\" = 'client image'"), 0);

  std::vector<std::string> seen = followStatus();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "{\"status\": \"Success\", \"progress\": 100 }");
  int last = -1;
  for (const std::string& answer : seen) {
    if (answer.find("InProgress") == std::string::npos) continue;
    int progress = std::stoi(answer.substr(answer.find("\"progress\": ") + 12));
    EXPECT_GE(progress, last) << answer;
    last = progress;
  }
  EXPECT_GE(last, 0) << "no install progress seen";
  EXPECT_TRUE(unit.waitForKmsg("Update Status: FileValid"));
}

TEST_F(DeviceApp, FilesAreStoredListedAndKeptInsideTheirFolder) {
  EXPECT_EQ(app("/lenstables/list"), "[\r\n]");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X PUT --data-binary 'lens table'"), "{\"result\": \"Success\" }");
  EXPECT_EQ(app("/lenstables/file/a.tab"), "lens table");
  EXPECT_EQ(app("/lenstables/list"), "[\r\n\"a.tab\"\r\n]");
  EXPECT_EQ(unit.curl("http://127.0.0.1:8080/qorapp/v2/lenstables/list"),
            "{\r\n\t\"name\": \"\",\r\n\t\"content\": [\r\n\t\t{ \"name\": \"a.tab\" }\r\n\t]\r\n}");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X DELETE"), "{\"result\": \"Success\" }");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X DELETE"), "{\"result\": \"No such file\" }");
}

class BlankUnit : public DeviceApp {
 protected:
  BlankUnit() : DeviceApp("start-unit.sh") {}
};

TEST_F(BlankUnit, NeverWrittenHardwareBlockGivesAnEmptyIdentity) {
  EXPECT_EQ(
      app("/device/info").rfind("{\r\n  \"_id\": \"-\",\r\n  \"name\": \"\",\r\n  \"serialnumber\": \"\",\r\n", 0), 0u);
  EXPECT_TRUE(unit.waitForKmsg("Differents length, setting new values to default."));
}

}  // namespace
