#include "apps/common/event/serverconnection.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/error_text.h"
#include "tools/message-broker/broker_test_support.h"

using ::testing::EndsWith;

bool operator==(const Notify& left, const Notify& right) {
  return left.event == right.event && left.a == right.a && left.b == right.b;
}

namespace {
using brokertest::kSemaphore;
using brokertest::kSocketPath;
using brokertest::semaphoreValue;

using testsupport::errorOf;

// A broker played by the test itself, so that it can cut the byte stream wherever it likes.
struct ScriptedBroker {
  ScriptedBroker() {
    sockaddr_un address{AF_UNIX, {}};
    std::strcpy(address.sun_path, kSocketPath);
    ::unlink(kSocketPath);
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener, 4), 0);
    ::sem_close(::sem_open(kSemaphore, O_CREAT, 0666, 1));
  }
  ~ScriptedBroker() {
    if (peer >= 0) ::close(peer);
    ::close(listener);
    ::unlink(kSocketPath);
    ::sem_unlink(kSemaphore);
  }
  void accept() { peer = ::accept(listener, nullptr, nullptr); }
  void write(const void* data, size_t length) {
    ASSERT_EQ(::send(peer, data, length, MSG_NOSIGNAL), static_cast<ssize_t>(length));
  }

  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int peer = -1;
};

struct Collector : ServerConnection::EventHandler {
  std::vector<Notify> events;
  int returns = 0;
  void handleEvent(Notify const& notify) override { events.push_back(notify); }
  void brokerReturned() override { ++returns; }
};

class ServerConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { brokertest::enterPrivateUnitPaths(); }
  EventPoll poll;
};

TEST_F(ServerConnectionTest, StartUpFailsWithoutBrokerAndHandsTheSemaphoreBackWhenConnectFails) {
  ::sem_unlink(kSemaphore);
  auto connect = [this] { ServerConnection connection(poll); };
  EXPECT_THAT(errorOf(connect), EndsWith(std::string("sem_open: ") + std::strerror(ENOENT)));

  ::sem_close(::sem_open(kSemaphore, O_CREAT, 0666, 1));
  EXPECT_THAT(errorOf(connect), EndsWith(std::string("connect: ") + std::strerror(ENOENT)));
  EXPECT_EQ(semaphoreValue(), 1) << "the next client of the broker must still get through";
}

TEST_F(ServerConnectionTest, ReassemblesRecordsCutAtAnyByteAndHandsOutAtMost256PerReport) {
  ScriptedBroker broker;
  ServerConnection connection(poll);
  broker.accept();
  Collector collector;
  connection.eventHandler = &collector;

  const Notify batch[3] = {{6, 0, 0}, {1060, 1, 9}, {0xFFFFFFFFu, 2, 0x01020304}};
  const auto* bytes = reinterpret_cast<const unsigned char*>(batch);
  for (size_t cut = 1; cut < sizeof batch; ++cut) {
    collector.events.clear();
    broker.write(bytes, cut);
    poll.wait(100, false);
    EXPECT_EQ(collector.events.size(), cut / sizeof(Notify)) << "whole records go out at once; cut " << cut;
    broker.write(bytes + cut, sizeof batch - cut);
    poll.wait(100, false);
    EXPECT_EQ(collector.events, std::vector<Notify>(batch, batch + 3)) << "cut after byte " << cut;
  }

  collector.events.clear();
  std::vector<Notify> flood(300);
  for (uint32_t i = 0; i < flood.size(); ++i) flood[i] = Notify{100 + i, 0, i};
  broker.write(flood.data(), flood.size() * sizeof(Notify));
  connection.event(EventPoll::Callback::Readable);
  EXPECT_EQ(collector.events.size(), 256u);
  connection.event(EventPoll::Callback::Readable);
  EXPECT_EQ(collector.events, flood);
}

// Runs the poll until done() holds or five seconds have passed.
bool pollUntil(EventPoll& poll, const std::function<bool()>& done) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); !done(); poll.wait(20, true))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

std::vector<Notify> receiveAll(int fd) {
  std::vector<Notify> records;
  Notify record;
  while (::recv(fd, &record, sizeof record, MSG_WAITALL | MSG_DONTWAIT) == sizeof record) records.push_back(record);
  return records;
}

// Control and event records go out as whole writes. A broker that goes, and one that stops reading, are connected to
// again from the poll, never by waiting in it: records posted meanwhile are held and follow a fresh subscription, and
// the handler is told.
TEST_F(ServerConnectionTest, RecordsGoOutWholeAndALostBrokerIsConnectedAgainWithNothingLostOrRepeated) {
  ScriptedBroker broker;
  ServerConnection connection(poll);
  broker.accept();
  EXPECT_EQ(semaphoreValue(), 1);
  connection.subscribeAll();
  connection.postEvent(Notify{700, 1, 3});
  connection.subscribe(Notify{42, 0, 0});
  std::vector<Notify> sent(4);
  EXPECT_EQ(::recv(broker.peer, sent.data(), 4 * sizeof(Notify), MSG_WAITALL),
            static_cast<ssize_t>(4 * sizeof(Notify)));
  EXPECT_EQ(sent, (std::vector<Notify>{{3, 0, 0}, {700, 1, 3}, {1, 0, 0}, {42, 0, 0}}));

  Collector handler;
  connection.eventHandler = &handler;
  const Notify last{6, 0, 0};
  broker.write(&last, sizeof last);
  ::close(std::exchange(broker.peer, -1));
  ASSERT_TRUE(pollUntil(poll, [&] { return !connection.connected(); }));
  EXPECT_EQ(handler.events, std::vector<Notify>{last}) << "what the broker sent before it went is handed out";
  EXPECT_THAT(connection.refusal(), ::testing::StartsWith("no connection to the message broker ("));
  connection.postEvent(Notify{700, 1, 3});
  const auto lost = std::chrono::steady_clock::now();
  ASSERT_TRUE(pollUntil(poll, [&] { return connection.connected(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - lost, ServerConnection::kFirstRetry - std::chrono::milliseconds(50));
  EXPECT_EQ(connection.refusal(), "");
  EXPECT_EQ(handler.returns, 1);
  EXPECT_EQ(semaphoreValue(), 1) << "the semaphore is passed on as at start-up";
  broker.accept();
  sent.resize(2);
  EXPECT_EQ(::recv(broker.peer, sent.data(), 2 * sizeof(Notify), MSG_WAITALL),
            static_cast<ssize_t>(2 * sizeof(Notify)));
  EXPECT_EQ(sent, (std::vector<Notify>{{3, 0, 0}, {700, 1, 3}}));

  // The broker stops reading: posting never blocks, and past the bound the connection is dropped.
  const int stalled = broker.peer;
  uint32_t posted = 0;
  while (connection.connected() && posted < 100000) connection.postEvent(Notify{100, 0, posted++});
  ASSERT_FALSE(connection.connected());
  EXPECT_THAT(connection.refusal(), ::testing::HasSubstr("does not read"));
  EXPECT_GT(connection.heldBytes(), ServerConnection::kMaxPendingBytes);
  ASSERT_TRUE(pollUntil(poll, [&] { return connection.connected() && connection.heldBytes() == 0; }));
  broker.accept();
  // What the old connection took, then after a fresh subscription what was held: each record once, in order.
  std::vector<Notify> received = receiveAll(stalled);
  const std::vector<Notify> again = receiveAll(broker.peer);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front(), (Notify{3, 0, 0}));
  received.insert(received.end(), again.begin() + 1, again.end());
  ASSERT_EQ(received.size(), posted);
  for (uint32_t i = 0; i < posted; ++i) ASSERT_EQ(received[i], (Notify{100, 0, i})) << i;
  EXPECT_EQ(handler.returns, 2);
  ::close(stalled);
}

TEST(FreePostEvent, FailsWithoutSink) {
  EXPECT_THAT(errorOf([] { postEvent(Notify{6, 0, 0}); }), EndsWith("Trying to post event without server connection"));
}
}  // namespace
