// The premarked-ring route of the running service inside the unit sandbox, with the sandbox's
// onewire-tool.py stand-in: the tool runs while the service answers others, and only numbers reach it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kJsonHead = "Content-type: application/json\r\n\r\n";
// A write of the value the variable holds: answered at once, and nothing changes.
const std::string kSmall = "{'MemApp':{'AppServiceLogLevel':'Warn'}}";
const fcgiclient::Params kRing = {{"SCRIPT_NAME", "/api/v1/premarkeddata.cgi"}};

// The whole answer to one ring request, head included.
std::string ring(fcgiclient::FcgiClient& client, const std::string& body) {
  const auto reply = client.request(kRing, body, true, 1, 0, 10000);
  EXPECT_TRUE(reply.ended) << body;
  return reply.stdoutText;
}

std::string writingFlag(const Sandbox& unit) {
  std::string value;
  unit.run("unit-simulator get MemServiceMode ServiceModeWritingToRing1Wire", &value);
  return value;
}

TEST(OneWireTool, SmallRequestsAreAnsweredWhileASlowToolWritesTheRing) {
  Sandbox unit;
  auto client = connectService(unit);
  const std::string delay = unit.stateDir() + "/onewire-tool.delay";
  std::ofstream(delay) << "3\n";
  auto writer = connectService(unit);
  const auto sent = Clock::now();
  ASSERT_TRUE(writer->sendRaw(fcgiclient::encodeRequest(kRing, R"({"ringType": "Iris", "irisValue": 2.8})", true, 1)));

  // Small requests every 5 ms while the tool takes its 3 s.
  auto slowest = Clock::duration::zero();
  int answered = 0;
  while (Clock::now() - sent < std::chrono::milliseconds(2500)) {
    const auto asked = Clock::now();
    ASSERT_EQ(call(*client, "/api/v1/set.cgi", kSmall), "{\"result\": 1 }");
    slowest = std::max(slowest, Clock::now() - asked);
    ++answered;
    usleep(5000);
  }
  EXPECT_EQ(writingFlag(unit), "true\n") << "the unit sees the write while it runs";
  EXPECT_GT(answered, 100);
  EXPECT_LT(slowest, std::chrono::milliseconds(500)) << "no request waits for the tool";

  const auto reply = writer->readReply(10000);
  EXPECT_TRUE(reply.ended);
  EXPECT_EQ(reply.stdoutText, kJsonHead);
  EXPECT_GE(Clock::now() - sent, std::chrono::seconds(3));
  EXPECT_TRUE(readFile(unit.stateDir() + "/onewire-tool.input").ends_with("\n4\n2.8\n\n"));
  EXPECT_EQ(writingFlag(unit), "false\n");
}

TEST(OneWireTool, OnlyANumberInTheRingsRangeReachesTheToolAndAnythingElseIsAnsweredWithAnError) {
  Sandbox unit;
  auto client = connectService(unit);
  const std::string input = unit.stateDir() + "/onewire-tool.input";
  const struct {
    nlohmann::json value;
    const char* error;
  } refused[] = {{"2.8\n9\nINJECTED", "irisValue is not a number"},
                 {"it's \"$(touch /tmp/pwned)\" `id` ; | >x", "irisValue is not a number"},
                 {100, "irisValue 100 is not between 0.7 and 45 for Iris"}};
  for (const auto& refusal : refused) {
    const std::string body = nlohmann::json{{"ringType", "Iris"}, {"irisValue", refusal.value}}.dump();
    EXPECT_EQ(ring(*client, body), kJsonHead + "{\"result\": 0, \"error\": \"" + refusal.error + "\" }") << body;
  }
  EXPECT_EQ(readFile(input), "") << "nothing refused reached the tool";
  EXPECT_EQ(unit.run("test ! -e /tmp/pwned"), 0);

  EXPECT_EQ(ring(*client, R"({"ringType": "Iris", "irisValue": 2.8})"), kJsonHead);
  EXPECT_EQ(ring(*client, R"({"ringType": "Focus Imperial", "focusCloseValue": "10"})"), kJsonHead);
  EXPECT_NE(readFile(input).find("\n4\n2.8\n\n"), std::string::npos) << readFile(input);
  EXPECT_TRUE(readFile(input).ends_with("\n2\n10\n\n")) << readFile(input);
  EXPECT_EQ(readFile(unit.stateDir() + "/onewire-tool.args"), "-e -m knob\n-e -m knob\n");

  std::ofstream(unit.stateDir() + "/onewire-tool.fail") << "";
  EXPECT_EQ(ring(*client, R"({"ringType": "Iris", "irisValue": 2.8})"),
            kJsonHead + "{\"result\": 0, \"error\": \"Error during calling onewire-tool.py\" }");
}

}  // namespace
