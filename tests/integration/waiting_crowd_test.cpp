// A hundred clients waiting on the long-poll routes at once, over FastCGI and through the HTTP front:
// the waiters keep only their share of the service's table, the oldest is answered early with a request
// to come back, and a write and a whole-state read keep being answered while the crowd waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/integration/sandbox_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCrowd = 100;
// The places the service leaves to long-polls.
constexpr int kWaitingShare = 24;

std::string bodyOf(const fcgiclient::Reply& reply) {
  const size_t end = reply.stdoutText.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.stdoutText.substr(end + 4);
}

std::string sequenceOf(const std::string& head) {
  const std::string name = "X-Change-Sequence: ";
  const size_t at = head.find(name);
  return at == std::string::npos ? "" : head.substr(at + name.size(), head.find("\r\n", at) - at - name.size());
}

// The service's own lines (debug, slow-turn warnings) would answer the log's waiters: only errors from here on.
void quieten(Sandbox& unit, fcgiclient::FcgiClient& client) {
  ASSERT_EQ(call(client, "/api/v1/set.cgi", "{'MemApp':{'AppServiceLogLevel':'Error'}}"), "{\"result\": 1 }");
  ASSERT_EQ(unit.run("echo 'crowd arrives' > /dev/kmsg"), 0);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (call(client, "/api/v1/log.cgi", "").find("crowd arrives") == std::string::npos && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(WaitingCrowd, OverFastCgiTheOldestWaiterMakesRoomAndWritesKeepAnswering) {
  Sandbox unit;
  auto reader = connectService(unit);
  quieten(unit, *reader);
  const std::string since = sequenceOf(reader->request({{"SCRIPT_NAME", "/api/v1/all.cgi"}}, "", true).stdoutText);
  ASSERT_FALSE(since.empty());
  const std::string logLength = bodyOf(reader->request({{"SCRIPT_NAME", "/api/v1/log.cgi"}}, "", true));
  const std::string offset = logLength.substr(0, logLength.find("\r\n"));

  // Every fifth waiter follows the log, the others the change feed; each on a connection of its own that
  // the service closes after the answer, as a front without kept connections does.
  std::vector<std::unique_ptr<fcgiclient::FcgiClient>> crowd;
  const auto isLog = [](int i) { return i % 5 == 4; };
  for (int i = 0; i < kCrowd; ++i) {
    crowd.push_back(connectService(unit));
    const fcgiclient::Params params =
        isLog(i) ? fcgiclient::Params{{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"QUERY_STRING", "offset=" + offset}}
                 : fcgiclient::Params{{"SCRIPT_NAME", "/api/v1/update.cgi"}, {"QUERY_STRING", "since=" + since}};
    ASSERT_TRUE(crowd.back()->sendRaw(fcgiclient::encodeRequest(params, "", false, 1)));
    if (i < kWaitingShare) continue;
    // The newcomer takes the place of the one that has waited longest, which is told to ask again.
    const auto early = crowd[i - kWaitingShare]->readReply(5000);
    ASSERT_TRUE(early.ended) << i;
    EXPECT_NE(early.stdoutText.find("\r\nRetry-After: 1\r\n"), std::string::npos) << early.stdoutText;
    if (isLog(i - kWaitingShare)) {
      EXPECT_EQ(bodyOf(early), offset + "\r\n");
    } else {
      EXPECT_EQ(sequenceOf(early.stdoutText), since);
      EXPECT_NE(bodyOf(early).find("\"variables\": {"), std::string::npos);
      EXPECT_EQ(bodyOf(early).find("\"MemPersistent\""), std::string::npos);
    }
  }
  // The rest still wait.
  for (int i = kCrowd - kWaitingShare; i < kCrowd; ++i) EXPECT_FALSE(crowd[i]->readReply(0).ended) << i;

  // A whole-state read and a write on fresh connections, beside the crowd.
  for (const auto& [route, body, expected] :
       {std::tuple{"/api/v1/all.cgi", "", "\"AUXTorque\""},
        std::tuple{"/api/v1/set.cgi", "{'MemPersistent':{'AUXTorque':3}}", "\"result\": 1 }"}}) {
    const auto start = Clock::now();
    EXPECT_NE(call(*connectService(unit), route, body).find(expected), std::string::npos) << route;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(ms, 1000) << route;
    std::printf("FastCGI, %d waiting: %s %.1f ms\n", kWaitingShare, route, ms);
  }

  // The write's change ends the feed's waiters, new text the log's.
  ASSERT_EQ(unit.run("echo 'the crowd goes home' > /dev/kmsg"), 0);
  for (int i = kCrowd - kWaitingShare; i < kCrowd; ++i) {
    const auto last = crowd[i]->readReply(5000);
    ASSERT_TRUE(last.ended) << i;
    EXPECT_EQ(last.stdoutText.find("Retry-After"), std::string::npos);
    EXPECT_NE(bodyOf(last).find(isLog(i) ? "the crowd goes home" : "\"AUXTorque\""), std::string::npos) << i;
  }
}

TEST(WaitingCrowd, ThroughTheHttpFrontEveryWaiterEndsWithAnAnswer) {
  Sandbox unit;
  std::string output;
  ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  quieten(unit, *connectService(unit));
  const std::string base = "http://127.0.0.1:8080/api/v1/";
  ASSERT_EQ(unit.run("curl -s -D - -o /dev/null " + base + "all.cgi | sed -n 's/^X-Change-Sequence: //p' | tr -d '\\r'",
                     &output),
            0);
  const std::string since = output.substr(0, output.find('\n'));
  ASSERT_FALSE(since.empty());
  ASSERT_EQ(unit.run("curl -s " + base + "log.cgi | head -n 1 | tr -d '\\r'", &output), 0);
  const std::string offset = output.substr(0, output.find('\n'));

  // All at once: 60 followers of the feed, 20 plain update waiters, 20 log waiters, each writing its
  // status and Retry-After to a file of its own when it ends.
  std::ostringstream crowd;
  crowd << "mkdir -p /tmp/crowd && for i in $(seq " << kCrowd << "); do case $((i % 5)) in "
        << "0) url='" << base << "log.cgi?offset=" << offset << "';; 1) url='" << base << "update.cgi';; "
        << "*) url='" << base << "update.cgi?since=" << since << "';; esac; "
        << "curl -s -m 30 -o /dev/null -w '%{http_code} %header{retry-after}\\n' \"$url\" >/tmp/crowd/$i & done; wait";
  auto waiters = std::async(std::launch::async, [&unit, command = crowd.str()] { return unit.run(command); });
  // Those beyond the share are answered early (waited for up to 20 s); the rest wait.
  const std::string early = std::to_string(kCrowd - kWaitingShare);
  ASSERT_EQ(unit.run("ended() { cat /tmp/crowd/* 2>/dev/null | wc -l; }; for i in $(seq 400); do [ $(ended) -ge " +
                         early + " ] && break; sleep 0.05; done; ended",
                     &output),
            0);
  ASSERT_EQ(output, early + "\n");

  // curl's own timing of whole-state reads and writes while they wait: ten each, the writes storing the value
  // the unit has, so that the crowd keeps waiting, and a last one that changes it and ends the feed's waiters.
  const std::string write = " -o /dev/null -w 'write %{http_code} %{time_total}\\n' --data ";
  std::ostringstream probes;
  probes << "for i in $(seq 10); do curl -s -m 10 -o /dev/null -w 'read %{http_code} %{time_total}\\n' " << base
         << "all.cgi; curl -s -m 10" << write << "\"{'MemPersistent':{'AUXTorque':1}}\" " << base << "set.cgi; done; "
         << "curl -s -m 10" << write << "\"{'MemPersistent':{'AUXTorque':3}}\" " << base << "set.cgi";
  ASSERT_EQ(unit.run(probes.str(), &output), 0);
  std::istringstream timings(output);
  std::map<std::string, double> slowest;
  int probed = 0;
  for (std::string kind, status, seconds; timings >> kind >> status >> seconds; ++probed) {
    EXPECT_EQ(status, "200") << kind;
    slowest[kind] = std::max(slowest[kind], std::stod(seconds) * 1000);
  }
  EXPECT_EQ(probed, 21) << output;
  for (const char* kind : {"read", "write"}) {
    EXPECT_LT(slowest[kind], 1000) << kind;
    std::printf("Through nginx, %d waiting: slowest %s %.1f ms\n", kWaitingShare, kind, slowest[kind]);
  }

  ASSERT_EQ(unit.run("echo 'the crowd goes home' > /dev/kmsg"), 0);
  ASSERT_EQ(waiters.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  ASSERT_EQ(unit.run("cat /tmp/crowd/*", &output), 0);
  std::istringstream lines(output);
  std::map<std::string, int> answers;
  for (std::string line; std::getline(lines, line);) ++answers[line];
  // Every waiter answered 200, those beyond the share early with a request to come back.
  EXPECT_EQ(answers, (std::map<std::string, int>{{"200 ", kWaitingShare}, {"200 1", kCrowd - kWaitingShare}}));
}

}  // namespace
