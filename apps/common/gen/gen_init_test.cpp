#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/gen.h"
#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"
#include "tests/unit/child_process.h"
#include "tests/unit/error_text.h"
#include "tools/message-broker/broker_test_support.h"

using ::testing::EndsWith;
using testsupport::passesInChild;

namespace {
// Plays the unit's other processes: the segments exist before the service starts, one maybe missing.
void createSegments(unsigned int skipped = MEMORY_ARRAY_SIZE) {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    if (mem == skipped) continue;
    SharedMemory segment(MEMORY_ARRAY[mem].name, MEMORY_ARRAY[mem].payloadSize);
    segment.create();
    segment.disown();
    segment.address();
  }
}

class GenInit : public ::testing::Test {
 protected:
  void SetUp() override { brokertest::enterPrivateUnitPaths(); }
  void TearDown() override {
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem)
      ::shm_unlink((std::string("/") + MEMORY_ARRAY[mem].name).c_str());
  }
};

TEST_F(GenInit, StopsAtTheFirstMissingSegmentWithTheLaterOnesUnmapped) {
  const unsigned int lens = 5;
  createSegments(lens);
  EXPECT_TRUE(passesInChild([] {
    EXPECT_THAT(testsupport::errorOf(gen::init), EndsWith(std::string("/MemLens: ") + std::strerror(ENOENT)));
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem)
      EXPECT_EQ(*MEMORY_POINTER_ARRAY[mem] != nullptr, mem < lens) << MEMORY_ARRAY[mem].name;
    EXPECT_EQ(gServerConnection, nullptr);
  }));
}

TEST_F(GenInit, ConnectsSubscribesFirstAndTakesTheLogLevelFromMemApp) {
  createSegments();
  brokertest::BrokerProcess broker;
  EXPECT_TRUE(passesInChild([] {
    gen::init();
    ASSERT_NE(gServerConnection, nullptr);
    EXPECT_EQ(gen::getServerConnection(), gServerConnection);
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem)
      EXPECT_EQ(*MEMORY_POINTER_ARRAY[mem], SEGMENT_ARRAY[mem]->address()) << MEMORY_ARRAY[mem].name;
    ASSERT_EQ(reinterpret_cast<char*>(gComponentLogLevel), gMemApp);
    gen::closeServerConnection();
  }));
  EXPECT_EQ(broker.stop(), 0);
  std::string log = broker.log();
  size_t first = log.find(" sent ");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.substr(first, log.find('\n', first) - first), " sent 3 0 0") << log;
}
TEST(ProcessFrame, PollIsReadyBeforeMainAndBrokerAccessorsAreSafeWithoutConnection) {
  // Nothing in this program constructs a poll: the handlers come from the process-wide one.
  struct sigaction terminate = {};
  struct sigaction brokenPipe = {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &terminate), 0);
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &brokenPipe), 0);
  EXPECT_NE(terminate.sa_handler, SIG_DFL);
  EXPECT_EQ(terminate.sa_flags & SA_RESTART, 0);
  EXPECT_EQ(brokenPipe.sa_handler, SIG_IGN);

  EventPoll* poll = gen::getEventPoll();
  ASSERT_NE(poll, nullptr);
  EXPECT_EQ(poll, gen::getEventPoll());
  EXPECT_EQ(poll->wait(0, true), EventPoll::Timeout);

  EXPECT_EQ(gen::getServerConnection(), nullptr);
  gen::closeServerConnection();
  gen::closeServerConnection();
  EXPECT_EQ(gen::getServerConnection(), nullptr);
  EXPECT_THROW(gen::subscribeNotifications(), std::runtime_error);
}
}  // namespace
