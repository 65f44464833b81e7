// A short hostile load against the real service in its sandbox, with a well-behaved client beside it.
#include "tools/loadtest/hostile_load.h"

#include <gtest/gtest.h>

#include <csignal>

#include "tests/integration/sandbox_harness.h"
#include "tools/fcgi-client/fcgiclient.h"

TEST(HostileLoad, WellBehavedClientIsServedThroughoutAndServiceLivesOn) {
  Sandbox unit;
  ASSERT_TRUE(unit.waitUntilRunning());
  {
    // Diagnostics as on a unit in use; thousands of debug lines would only slow the run.
    fcgiclient::FcgiClient setup(unit.connectTcpWhenListening(9000));
    auto reply = setup.request({{"SCRIPT_NAME", "/api/v1/set.cgi"}}, "{'MemApp':{'AppServiceLogLevel':'Warn'}}");
    ASSERT_NE(reply.stdoutText.find("\"result\": 1"), std::string::npos) << reply.stdoutText;
  }

  hostileload::Options options;
  options.connect = [&unit] { return unit.connectTcp(9000); };
  options.malformed = 400;
  options.slowSenders = 4;
  options.slowByteMs = 5;
  options.nonReaders = 4;
  options.flood = 40;
  options.floodHoldMs = 1500;
  options.seconds = 12;
  const auto report = hostileload::run(options);

  EXPECT_EQ(report.goodFailures, 0u);
  EXPECT_GT(report.goodRequests, 10u);
  // Peers that never read hold nobody up: a single write blocking for its 5 s bound would show here.
  EXPECT_LT(report.goodWorstMs, 4000);
  EXPECT_GT(report.malformedSent, 20u);  // the phase ran; how many fit in its 6 s depends on the machine
  EXPECT_EQ(report.slowServed, options.slowSenders);
  // Waiting requests are answered by the good client's writes, never more at once than the table holds.
  EXPECT_GT(report.floodAccepted, 0);
  EXPECT_LE(report.floodAccepted, 32);
  EXPECT_TRUE(report.servesAfterwards);

  EXPECT_EQ(unit.waitForExit(100), -1) << "the service ended under load";
  unit.signalService(SIGTERM);
  EXPECT_EQ(unit.waitForExit(), 0);
}
