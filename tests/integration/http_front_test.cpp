// The service behind the unit's HTTP front (nginx with tools/nginx/webservice.conf), driven by curl, both in
// the sandbox's network namespace: the variable routes, and the device app with identity from the hardware
// block, folders, and uploads that the simulated update machinery checks and installs.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/integration/sandbox_harness.h"

namespace {

TEST(HttpFront, VariableRoutesDeviceAppFoldersAndCheckedUnitUpdate) {
  Sandbox unit("--factory-block 4711 mainboard --updater");
  std::string output;
  ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  // What curl prints: the answer's body with the HTTP status appended after a line feed.
  const auto curl = [&unit](const std::string& arguments) {
    std::string body;
    unit.run("curl -s -m 20 -w '\\n%{http_code}' " + arguments, &body);
    return body;
  };
  const auto app = [&curl](const std::string& path, const std::string& options = "", int version = 1) {
    return curl(options + " http://127.0.0.1:8080/qorapp/v" + std::to_string(version) + path);
  };

  const std::string whole = curl("-A probe/2 http://127.0.0.1:8080/api/v1/all.cgi");
  ASSERT_EQ(whole.substr(whole.size() - 4), "\n200") << whole.substr(0, 300);
  const auto document = nlohmann::ordered_json::parse(whole.substr(0, whole.size() - 4));
  // The write below must change the torque: the unit starts at the catalogue's 1.
  EXPECT_EQ(document["variables"]["MemPersistent"]["AUXTorque"]["value"], "1");
  // SCRIPT_FILENAME and the peers as nginx passes them.
  EXPECT_TRUE(unit.waitForKmsg("Request /tmp/nginx/html/api/v1/all.cgi from 127.0.0.1 to 127.0.0.1 by probe/2"));

  // The waiter is held by the service until the write below changes a value.
  auto waiting = std::async(std::launch::async, [&curl] { return curl("http://127.0.0.1:8080/api/v1/update.cgi"); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  const std::string set = "http://127.0.0.1:8080/api/v1/set.cgi";
  EXPECT_EQ(curl("--data x " + set), "{\"result\": 0, \"error\": \"JSON parse error at 0.\\r\\n\" }\n200");
  EXPECT_EQ(curl("--data \"{'MemPersistent':{'AUXTorque':3}}\" " + set), "{\"result\": 1 }\n200");
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const std::string update = waiting.get();
  EXPECT_TRUE(update.ends_with(
      "\"AUXTorque\" : {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"3\"}\r\n  }\r\n}\r\n}\r\n\n200"))
      << update;

  // Folders under both versions of the device app, from a unit without the simulator's lens tables.
  EXPECT_NE(app("/lenstables/list").find("\"Prime_50.mib\""), std::string::npos);
  ASSERT_EQ(unit.run("rm /var/MIB/*"), 0);
  EXPECT_EQ(app("/lenstables/list"), "[\r\n]\n200");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X PUT --data-binary 'lens table'"), "{\"result\": \"Success\" }\n200");
  EXPECT_EQ(app("/lenstables/file/a.tab"), "lens table\n200");
  EXPECT_EQ(app("/lenstables/list"), "[\r\n\"a.tab\"\r\n]\n200");
  EXPECT_EQ(app("/lenstables/list", "", 2),
            "{\r\n\t\"name\": \"\",\r\n\t\"content\": [\r\n\t\t{ \"name\": \"a.tab\" }\r\n\t]\r\n}\n200");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X DELETE", 2), "{\"result\": \"Success\" }\n200");
  EXPECT_EQ(app("/lenstables/file/a.tab", "-X DELETE"), "{\"result\": \"No such file\" }\n200");

  // The identity from the hardware block and the product name; an update upload is checked, started and installed.
  ASSERT_EQ(unit.run("unit-simulator set MemPersistent ProductName 'Unit 7'"), 0);
  const std::string identity =
      "{\r\n  \"_id\": \"mainboard-4711\",\r\n  \"name\": \"Unit 7\",\r\n  \"serialnumber\": \"4711\",";
  EXPECT_EQ(app("/device/info").substr(0, identity.size()), identity);

  ASSERT_EQ(unit.run("head -c 3000000 /dev/urandom >/tmp/unit.swu"), 0);
  EXPECT_EQ(app("/device/update", "-F deviceid=mainboard-4711 -F file=@/tmp/unit.swu"),
            "{\"taskid\": \"mainboard-4711\" }\n200");
  EXPECT_EQ(unit.run("cmp /tmp/unit.swu /update/host.swu"), 0);

  // A file found valid is reported as the reboot into it; the install follows only after that go-ahead.
  bool goAhead = false;
  std::string answer;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       answer.find("Success") == std::string::npos && answer.find("File") != 13 &&
       std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(40))) {
    answer = app("/device/status");
    goAhead = goAhead || answer.find("Rebooting") != std::string::npos;
    EXPECT_TRUE(goAhead ||
                (answer.find("InProgress") == std::string::npos && answer.find("CopyingFile") == std::string::npos))
        << answer;
  }
  EXPECT_EQ(answer, "{\"status\": \"Success\", \"progress\": 0 }\n200");
  EXPECT_TRUE(goAhead);
}

}  // namespace
