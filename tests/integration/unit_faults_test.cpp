// The unit around the service fails and comes back: the broker restarts, the broker stalls, the
// kernel-log reader dies. The service serves meanwhile and is whole afterwards.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "tests/integration/sandbox_harness.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* const kSet = "/api/v1/set.cgi";
const std::string kAccepted = "{\"result\": 1 }";
const std::string kRefusedStart = "{\"result\": 0, \"error\": \"Not stored: no connection to the message broker (";

const std::string kStoredStart = "{\"result\": 1, \"warning\": \"Stored, but no connection to the message broker (";

// A connection with an update request that waits: changes still on their way (echoes of our own
// writes) answer earlier ones, until one has waited half a second unanswered. A follower of the change
// feed asks each time from the sequence of the last answer.
std::unique_ptr<fcgiclient::FcgiClient> waitingUpdate(const Sandbox& unit, bool follower = false) {
  auto waiter = connectService(unit);
  std::string since = "0";
  for (uint16_t id = 1; id < 100; ++id) {
    fcgiclient::Params params{{"SCRIPT_NAME", "/api/v1/update.cgi"}};
    if (follower) params["QUERY_STRING"] = "since=" + since;
    waiter->sendRaw(fcgiclient::encodeRequest(params, "", true, id));
    const auto answer = waiter->readReply(500);
    if (!answer.ended) return waiter;
    const size_t at = answer.stdoutText.find("X-Change-Sequence: ") + std::strlen("X-Change-Sequence: ");
    since = answer.stdoutText.substr(at, answer.stdoutText.find("\r\n", at) - at);
  }
  ADD_FAILURE() << "changes keep coming";
  return waiter;
}

// Commands on the broker stand-in that start-unit.sh started (its pid is in the state folder).
const std::string kBroker = "$(cat \"$UNIT_SANDBOX_STATE/broker.pid\")";
const std::string kStartBroker =
    "message-broker 2>>\"$UNIT_SANDBOX_STATE/broker.log\" >/dev/null </dev/null & echo $! "
    ">\"$UNIT_SANDBOX_STATE/broker.pid\"";

TEST(UnitFaults, TheBrokerStopsAndReturnsWithWritesRefusedMeanwhileAndWaitersAnsweredAfter) {
  Sandbox unit;
  auto client = connectService(unit);
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), kAccepted);
  auto waiter = waitingUpdate(unit);
  auto follower = waitingUpdate(unit, true);

  ASSERT_EQ(unit.run("kill -TERM " + kBroker), 0);
  ASSERT_TRUE(unit.waitForKmsg("Lost the message broker"));
  // The service serves; changes that nobody would hear of are refused and not made.
  EXPECT_TRUE(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}").starts_with(kRefusedStart));
  const auto upload =
      client->request({{"SCRIPT_NAME", "/qorapp/v1"},
                       {"PATH_INFO", "/device/update"},
                       {"CONTENT_TYPE", "multipart/form-data; boundary=sep"}},
                      "--sep\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nABC-1\r\n--sep--\r\n", true);
  EXPECT_NE(upload.stdoutText.find("{\"result\": \"Not stored: no connection to the message broker ("),
            std::string::npos)
      << upload.stdoutText;
  EXPECT_TRUE(call(*client, "/api/v1/premarkeddata.cgi", R"({"ringType": "Iris", "irisValue": "4"})")
                  .starts_with("{\"result\": 0, \"error\": \"Not stored: no connection to the message broker ("));
  EXPECT_EQ(
      nlohmann::json::parse(call(*client, "/api/v1/all.cgi", ""))["variables"]["MemPersistent"]["AUXTorque"]["value"],
      "2");
  EXPECT_FALSE(waiter->readRecord(300).has_value()) << "a waiter stays waiting";

  ASSERT_EQ(unit.run(kStartBroker), 0);
  const auto started = Clock::now();
  ASSERT_TRUE(unit.waitForKmsg("Message broker connection back", 10000));
  EXPECT_LT(Clock::now() - started, 10s);
  // What changed unheard during the gap is unknown: the follower is told to load the whole state again.
  const auto reload = follower->readReply(2000);
  ASSERT_TRUE(reload.ended);
  EXPECT_NE(reload.stdoutText.find("\r\nX-Change-Reload: 1\r\n"), std::string::npos) << reload.stdoutText;
  // Subscribed again: another process's change reaches the waiter that waited through the gap.
  ASSERT_EQ(unit.run("unit-simulator set MemPersistent AUXTorque 4"), 0);
  const auto answer = waiter->readReply(5000);
  ASSERT_TRUE(answer.ended);
  EXPECT_NE(answer.stdoutText.find("\"AUXTorque\" : {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"4\"}"),
            std::string::npos)
      << answer.stdoutText;
  // And the service's own changes are announced again.
  ASSERT_EQ(call(*client, kSet, "{'MemStatic':{'VariableLogging':true}}"), kAccepted);
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':1}}"), kAccepted);
  EXPECT_TRUE(
      unit.waitForKmsg("MemPersistent.AUXTorque: {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"1\"}"));
  EXPECT_EQ(unit.run("unit-simulator get MemPersistent AUXTorque | grep -qx 1"), 0);
}

TEST(UnitFaults, AStalledBrokerNeverHoldsTheServiceAndItsWritesAreAllAnswered) {
  Sandbox unit;
  auto client = connectService(unit);
  auto small = connectService(unit);
  ASSERT_EQ(unit.run("kill -USR1 " + kBroker), 0);
  int accepted = 0, refused = 0, other = 0;
  auto slowest = Clock::duration::zero();
  for (int i = 0; i < 12000; ++i) {
    const std::string answer = call(*client, kSet, "{'MemPersistent':{'AUXTorque':" + std::to_string(i % 4 + 1) + "}}");
    // The write that passes the bound is stored, and its record held for the return.
    if (answer == kAccepted || answer.starts_with(kStoredStart))
      ++accepted;
    else if (answer.starts_with(kRefusedStart))
      ++refused;
    else
      ++other;
    if (i % 500 != 0) continue;
    const auto before = Clock::now();
    EXPECT_FALSE(call(*small, "/api/v1/none.cgi", "").empty());
    slowest = std::max(slowest, Clock::now() - before);
  }
  EXPECT_EQ(other, 0);
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0) << "the stalled broker's bound was passed and the connection dropped";
  // A loose bound: the fault it catches is a loop blocked in send() for good.
  EXPECT_LT(slowest, 2s);
  EXPECT_TRUE(unit.waitForKmsg("it does not read what the service sends"));

  ASSERT_EQ(unit.run("kill -USR2 " + kBroker), 0);
  const auto resumed = Clock::now();
  std::string answer;
  while (Clock::now() - resumed < 10s &&
         (answer = call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}")) != kAccepted)
    std::this_thread::sleep_for(100ms);
  ASSERT_EQ(answer, kAccepted);
  auto waiter = waitingUpdate(unit);
  ASSERT_EQ(unit.run("unit-simulator set MemPersistent BluetoothPower true"), 0);
  const auto update = waiter->readReply(5000);
  ASSERT_TRUE(update.ended);
  EXPECT_NE(update.stdoutText.find("\"BluetoothPower\" : "), std::string::npos) << update.stdoutText;
}

// The reader's process: the service's child whose command line names dmesg.
pid_t readerOf(const Sandbox& unit) {
  const std::string service = std::to_string(unit.servicePid());
  std::istringstream children(readFile("/proc/" + service + "/task/" + service + "/children"));
  for (pid_t child; children >> child;)
    if (readFile("/proc/" + std::to_string(child) + "/cmdline").find("dmesg") != std::string::npos) return child;
  return -1;
}

std::string logPage(fcgiclient::FcgiClient& client) {
  const std::string answer = call(client, "/api/v1/log.cgi", "");
  return answer.substr(std::min(answer.size(), answer.find("\r\n") + 2));
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

TEST(UnitFaults, AKilledLogReaderIsStartedAgainAndThePageGoesOnWithoutRepeats) {
  Sandbox unit;
  auto client = connectService(unit);
  const std::string before = "written before the reader was killed";
  const std::string after = "written after the reader was killed";
  ASSERT_EQ(unit.run("echo '" + before + "' > /dev/kmsg"), 0);
  for (auto end = Clock::now() + 10s; Clock::now() < end && logPage(*client).find(before) == std::string::npos;)
    std::this_thread::sleep_for(50ms);
  const pid_t reader = readerOf(unit);
  ASSERT_GT(reader, 0);
  ASSERT_EQ(::kill(reader, SIGKILL), 0);
  ASSERT_EQ(unit.run("echo '" + after + "' > /dev/kmsg"), 0);

  const auto killed = Clock::now();
  std::string page;
  while (Clock::now() - killed < 10s && (page = logPage(*client)).find(after) == std::string::npos)
    std::this_thread::sleep_for(100ms);
  EXPECT_EQ(count(page, after), 1u) << page;
  EXPECT_EQ(count(page, before), 1u) << "the new reader's replay is not shown again";
  EXPECT_EQ(count(page, "Waiting for server"), 1u);
  EXPECT_TRUE(unit.waitForKmsg("dmesg ended (killed by signal 9); starting it again"));
  EXPECT_GT(readerOf(unit), 0);
  EXPECT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}"), kAccepted);
}

}  // namespace
