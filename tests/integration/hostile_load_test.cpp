// A short hostile load against the real service in its sandbox, with a well-behaved client beside it; then
// the orderly stop on SIGTERM.
#include "tools/loadtest/hostile_load.h"

#include <gtest/gtest.h>

#include <csignal>

#include "tests/integration/sandbox_harness.h"

TEST(HostileLoad, WellBehavedClientIsServedThroughoutAndTheServiceLivesOnUntilSigterm) {
  Sandbox unit;
  // Diagnostics as on a unit in use; thousands of debug lines would only slow the run.
  ASSERT_EQ(call(*connectService(unit), "/api/v1/set.cgi", "{'MemApp':{'AppServiceLogLevel':'Warn'}}"),
            "{\"result\": 1 }");

  const hostileload::Options options{.connect = [&unit] { return unit.connectTcp(9000); },
                                     .malformed = 400,
                                     .slowSenders = 4,
                                     .slowByteMs = 5,
                                     .nonReaders = 4,
                                     .flood = 40,
                                     .floodHoldMs = 1500,
                                     .seconds = 12};
  const auto report = hostileload::run(options);

  EXPECT_EQ(report.goodFailures, 0u);
  EXPECT_GT(report.goodRequests, 10u);
  // Peers that never read hold nobody up: a single write blocking for its 5 s bound would show here.
  EXPECT_LT(report.goodWorstMs, 4000);
  EXPECT_GT(report.malformedSent, 20u);  // the phase ran; how many fit in its 6 s depends on the machine
  EXPECT_EQ(report.slowServed, options.slowSenders);
  // Waiting requests are answered by the good client's writes; past their share of the table the oldest is
  // answered at once, and those past the 32 places wait their turn: more of the flood is answered than may wait.
  EXPECT_GT(report.floodAccepted, 24);
  EXPECT_LE(report.floodAccepted, options.flood);
  EXPECT_TRUE(report.servesAfterwards);

  // SIGTERM ends the loop in order (its line is unit-tested); a liveness bound, the loop turns every 100 ms.
  unit.signalService(SIGTERM);
  EXPECT_EQ(unit.waitForExit(3000), 0);
}
