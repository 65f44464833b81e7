// The service behind the unit's HTTP front (nginx with tools/nginx/webservice.conf), driven by curl,
// both running in the sandbox's network namespace.
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {

class HttpFront : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.waitUntilRunning());
    std::string output;
    ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  }

  // Body of the answer (curl -s), with the HTTP status appended after a line feed.
  std::string curl(const std::string& arguments) const { return unit.curl("-w '\\n%{http_code}' " + arguments); }

  Sandbox unit;
};

TEST_F(HttpFront, WholeStateWriteAndWaitingUpdate) {
  const std::string whole = curl("http://127.0.0.1:8080/api/v1/all.cgi");
  ASSERT_EQ(whole.substr(whole.size() - 4), "\n200") << whole.substr(0, 300);
  const auto document = nlohmann::ordered_json::parse(whole.substr(0, whole.size() - 4));
  EXPECT_EQ(document["variables"].size(), 20u);
  EXPECT_EQ(document["variables"]["MemPersistent"]["AUXTorque"]["value"], "0");

  // The waiter is held by the service until the write below changes a value.
  auto waiting = std::async(std::launch::async, [this] { return curl("http://127.0.0.1:8080/api/v1/update.cgi"); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  EXPECT_EQ(curl("--data \"{'MemPersistent':{'AUXTorque':3}}\" http://127.0.0.1:8080/api/v1/set.cgi"),
            "{\"result\": 1 }\n200");
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const std::string update = waiting.get();
  EXPECT_NE(update.find("\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "
                        "{\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"3\"}\r\n  }\r\n}\r\n}\r\n\n200"),
            std::string::npos)
      << update;

  const std::string again = curl("http://127.0.0.1:8080/api/v1/all.cgi");
  const auto after = nlohmann::json::parse(again.substr(0, again.size() - 4));
  EXPECT_EQ(after["variables"]["MemPersistent"]["AUXTorque"]["value"], "3");
}

TEST_F(HttpFront, ScriptNameIsThePathOfTheScript) {
  EXPECT_EQ(curl("http://127.0.0.1:8080/api/v1/nothing.cgi"),
            "{\"result\": 0, \"error\": \"Unknown script: '/api/v1/nothing.cgi'\" }\n200");
  ASSERT_EQ(curl("-o /dev/null -A probe/2 http://127.0.0.1:8080/api/v1/all.cgi"), "\n200");
  EXPECT_TRUE(unit.waitForKmsg("Request /tmp/nginx/html/api/v1/all.cgi from 127.0.0.1 to 127.0.0.1 by probe/2"));
}

}  // namespace
