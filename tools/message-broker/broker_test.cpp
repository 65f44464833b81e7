#include "tools/message-broker/broker.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {
struct Record {
  uint32_t event, a, b;
  bool operator==(const Record&) const = default;
};

class BrokerTest : public ::testing::Test {
 protected:
  Broker broker{-1, 4096, false};
  std::vector<int> ends;

  ~BrokerTest() override {
    for (int fd : ends) ::close(fd);
  }

  int connect() {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    broker.adopt(pair[0]);
    ends.push_back(pair[1]);
    return pair[1];
  }

  void pump() {
    for (int i = 0; i < 8; ++i) broker.step(0);
  }

  static void sendBytes(int fd, const void* data, size_t length) {
    ASSERT_EQ(::send(fd, data, length, MSG_NOSIGNAL), static_cast<ssize_t>(length));
  }

  void post(int fd, std::vector<Record> records) {
    sendBytes(fd, records.data(), records.size() * sizeof(Record));
    pump();
  }

  static std::vector<Record> received(int fd) {
    std::vector<Record> records;
    Record record;
    while (::recv(fd, &record, sizeof record, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof record))
      records.push_back(record);
    return records;
  }
};

TEST_F(BrokerTest, ReassemblesRecordsCutAtEveryByteAndEchoesToTheSender) {
  int sender = connect();
  int listener = connect();
  post(sender, {{3, 0, 0}});
  post(listener, {{3, 0, 0}});
  const Record batch[3] = {{100, 0, 0}, {101, 1, 7}, {0xFFFFFFFFu, 0xDEADBEEF, 42}};
  const auto* bytes = reinterpret_cast<const unsigned char*>(batch);
  for (size_t cut = 1; cut < sizeof batch; ++cut) {
    sendBytes(sender, bytes, cut);
    pump();
    sendBytes(sender, bytes + cut, sizeof batch - cut);
    pump();
    std::vector<Record> expected(batch, batch + 3);
    EXPECT_EQ(received(listener), expected) << "cut after byte " << cut;
    EXPECT_EQ(received(sender), expected) << "cut after byte " << cut;
  }
}

TEST_F(BrokerTest, ForwardsOnlyWhatEachClientSubscribed) {
  int poster = connect();
  int single = connect();
  int everything = connect();
  post(single, {{1, 0, 0}, {42, 0, 0}});
  post(everything, {{3, 0, 0}});

  post(poster, {{42, 1, 2}, {43, 0, 0}});
  EXPECT_EQ(received(single), (std::vector<Record>{{42, 1, 2}}));
  EXPECT_EQ(received(everything), (std::vector<Record>{{42, 1, 2}, {43, 0, 0}}));
  EXPECT_TRUE(received(poster).empty()) << "a client that subscribed nothing receives nothing";

  post(single, {{2, 0, 0}, {42, 0, 0}});
  post(everything, {{4, 0, 0}});
  post(poster, {{42, 0, 0}});
  EXPECT_TRUE(received(single).empty());
  EXPECT_TRUE(received(everything).empty());
}

TEST_F(BrokerTest, SurvivesClientsThatHangUpMidRecordOrStopReading) {
  int healthy = connect();
  post(healthy, {{3, 0, 0}});

  int quitter = connect();
  sendBytes(quitter, "\x07\x00\x00\x00\x01", 5);
  pump();
  ::close(quitter);
  ends.erase(ends.end() - 1);
  pump();
  EXPECT_EQ(broker.clientCount(), 1u);

  int stalled = connect();
  post(stalled, {{3, 0, 0}});
  int poster = connect();
  // Far more than the stalled client's socket buffer and pending bound can take.
  std::vector<Record> flood(1000, Record{77, 0, 0});
  size_t delivered = 0;
  for (int round = 0; round < 100; ++round) {
    post(poster, flood);
    delivered += received(healthy).size();
  }
  EXPECT_EQ(delivered, 100u * flood.size()) << "a reading client loses nothing while another stalls";
  EXPECT_EQ(broker.clientCount(), 2u) << "the stalled client is dropped once its bound is passed";
  char byte;
  EXPECT_EQ(::recv(stalled, &byte, 1, 0), 1) << "it got what fitted before it was dropped";
}
}  // namespace
