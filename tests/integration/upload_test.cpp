// Software updates through the unit's HTTP front, with the simulated update machinery checking and
// installing them: updates in a row, an upload while one installs, an epilogue that looks like a file,
// and a client that goes away mid-upload.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/integration/sandbox_harness.h"

namespace {
using Clock = std::chrono::steady_clock;

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string output;
    ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  }

  std::string curl(const std::string& arguments) {
    std::string body;
    unit.run("curl -s -m 20 " + arguments, &body);
    return body;
  }
  std::string upload(const std::string& deviceId, const std::string& file) {
    return curl("-F deviceid=" + deviceId + " -F file=@" + file + " http://127.0.0.1:8080/qorapp/v1/device/update");
  }
  std::string status() { return curl("http://127.0.0.1:8080/qorapp/v2/device/status"); }
  // Asks for the status until it names `state`; answers the last status seen.
  std::string waitForStatus(const std::string& state) {
    std::string answer;
    for (auto end = Clock::now() + std::chrono::seconds(20);
         answer.find('"' + state + '"') == std::string::npos && Clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(30)))
      answer = status();
    return answer;
  }
  // The names in /update, one a line.
  std::string updateFolder() {
    std::string names;
    unit.run("ls /update", &names);
    return names;
  }

  Sandbox unit{"--factory-block 4711 mainboard --updater"};
};

TEST_F(UploadTest, EveryUnitUpdateIsCheckedAndNoneReplacesTheFileOfAnInstall) {
  ASSERT_EQ(unit.run("head -c 300000 /dev/urandom >/tmp/a.swu && head -c 200000 /dev/urandom >/tmp/b.swu"), 0);
  EXPECT_EQ(upload("mainboard-4711", "/tmp/a.swu"), "{\"taskid\": \"mainboard-4711\" }");
  EXPECT_NE(waitForStatus("Rebooting").find("Rebooting"), std::string::npos);  // checked, and the go-ahead given
  // The install runs: a new file must wait.
  EXPECT_EQ(upload("mainboard-4711", "/tmp/b.swu"),
            "{\"result\": \"Busy: an update is being installed; try again once it has ended.\" }");
  EXPECT_EQ(unit.run("cmp /tmp/a.swu /update/host.swu"), 0);
  EXPECT_EQ(waitForStatus("Success"), "{\"status\": \"Success\", \"progress\": 0 }");

  // The second update under the same name is checked and installed anew, not reported as the first.
  EXPECT_EQ(upload("mainboard-4711", "/tmp/b.swu"), "{\"taskid\": \"mainboard-4711\" }");
  EXPECT_EQ(unit.run("cmp /tmp/b.swu /update/host.swu"), 0);
  EXPECT_EQ(status().find("Success"), std::string::npos);
  EXPECT_NE(waitForStatus("Rebooting").find("Rebooting"), std::string::npos);
  EXPECT_EQ(waitForStatus("Success"), "{\"status\": \"Success\", \"progress\": 0 }");

  // An accessory's update is reported as the accessory's.
  EXPECT_EQ(upload("LCS-12", "/tmp/a.swu"), "{\"taskid\": \"LCS-12\" }");
  EXPECT_NE(waitForStatus("FileValid").find("FileValid"), std::string::npos);
  EXPECT_EQ(updateFolder(), "client.cmf\nhost.swu\n");
}

TEST_F(UploadTest, AnEpilogueIsNoFileAndAClientGoneMidUploadLeavesNothing) {
  // Text after the closing delimiter that looks like a second file part is not stored.
  ASSERT_EQ(
      unit.run("printf -- '--b\\r\\nContent-Disposition: form-data; name=\"deviceid\"\\r\\n\\r\\nmainboard-4711\\r\\n"
               "--b\\r\\nContent-Disposition: form-data; name=\"file\"\\r\\n\\r\\nIMAGE\\r\\n--b--\\r\\n"
               "--b\\r\\nContent-Disposition: form-data; name=\"file\"\\r\\n\\r\\nINJECTED\\r\\n--b--\\r\\n' "
               ">/tmp/form"),
      0);
  EXPECT_EQ(curl("-H 'Content-Type: multipart/form-data; boundary=b' --data-binary @/tmp/form "
                 "http://127.0.0.1:8080/qorapp/v1/device/update"),
            "{\"taskid\": \"mainboard-4711\" }");
  std::string stored;
  unit.run("cat /update/host.swu", &stored);
  EXPECT_EQ(stored, "IMAGE");

  // A client that gives up halfway: nginx passes the body on as it comes, and closes when the client does.
  ASSERT_EQ(unit.run("head -c 4000000 /dev/urandom >/tmp/big.swu"), 0);
  unit.run(
      "curl -s -m 1 --limit-rate 1M -F deviceid=mainboard-4711 -F file=@/tmp/big.swu "
      "http://127.0.0.1:8080/qorapp/v1/device/update");
  std::string folder;
  for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(50)))
    if ((folder = updateFolder()) == "host.swu\n") break;
  EXPECT_EQ(folder, "host.swu\n");
  unit.run("cat /update/host.swu", &stored);
  EXPECT_EQ(stored, "IMAGE");
  // And the service goes on.
  EXPECT_EQ(curl("-X PUT --data-binary 'lens table' http://127.0.0.1:8080/qorapp/v1/lenstables/file/a.tab"),
            "{\"result\": \"Success\" }");
}

}  // namespace
