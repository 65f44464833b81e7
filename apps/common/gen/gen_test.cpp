#include "apps/common/gen/gen.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <stdexcept>

#include "apps/common/event/eventpoll.h"

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
