#include "tools/loadtest/hostile_load.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/fcgi-client/fcgiclient.h"

namespace hostileload {
namespace {
using Clock = std::chrono::steady_clock;
using fcgiclient::encodeNameValue;
using fcgiclient::encodeRecord;
using fcgiclient::encodeRequest;

const fcgiclient::Params kWholeState = {{"SCRIPT_NAME", "/api/v1/all.cgi"}, {"REQUEST_METHOD", "GET"}};
const fcgiclient::Params kUpdate = {{"SCRIPT_NAME", "/api/v1/update.cgi"}, {"REQUEST_METHOD", "GET"}};

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void sendQuietly(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent <= 0) return;
    done += static_cast<size_t>(sent);
  }
}

// Closing with unread data or a zero linger makes the peer see a reset instead of an orderly end.
void closeAbruptly(int fd) {
  linger off{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  ::close(fd);
}

bool readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

// One malformed connection's bytes, drawn from a handful of ways a peer gets the protocol wrong.
std::string malformedInput(std::mt19937& random) {
  auto pick = [&](int below) { return static_cast<int>(random() % static_cast<unsigned>(below)); };
  const std::string whole = encodeRequest(kWholeState, "", pick(2) == 0, static_cast<uint16_t>(pick(3)));
  switch (pick(8)) {
    case 0: {  // noise
      std::string noise(static_cast<size_t>(1 + pick(2000)), '\0');
      for (char& c : noise) c = static_cast<char>(random());
      return noise;
    }
    case 1:  // a whole request cut anywhere
      return whole.substr(0, static_cast<size_t>(pick(static_cast<int>(whole.size()))));
    case 2:  // a record that claims more content than it brings
      return encodeRecord(fcgiclient::kBeginRequest, 1, std::string("\0\1\1\0\0\0\0\0", 8)) +
             encodeRecord(fcgiclient::kParams, 1, std::string(100, 'p')).replace(4, 2, "\xff\xff");
    case 3:  // name-value lengths far beyond the record
      return encodeRecord(fcgiclient::kBeginRequest, 1, std::string("\0\1\0\0\0\0\0\0", 8)) +
             encodeRecord(
                 fcgiclient::kParams, 1,
                 fcgiclient::encodeLength(0x7fffffff, true) + fcgiclient::encodeLength(0x7fffffff, true) + "x");
    case 4:  // unknown types, version 0, all padding
      return encodeRecord(11, 0, "abc", 255) + encodeRecord(fcgiclient::kStdin, 7, "x", 0, 0) +
             encodeRecord(fcgiclient::kGetValues, 0, encodeNameValue("FCGI_MAX_CONNS", "")) + whole;
    case 5:  // input without a beginning, then a short BEGIN_REQUEST body
      return encodeRecord(fcgiclient::kStdin, 1, std::string(3000, 's')) +
             encodeRecord(fcgiclient::kBeginRequest, 1, "\0\1") + encodeRecord(fcgiclient::kParams, 1, "");
    case 6:  // a whole request for a script that does not exist, left before the answer is read
      return encodeRequest({{"SCRIPT_NAME", std::string(static_cast<size_t>(pick(3000)), '/')}}, "{", true, 1);
    default:  // a whole-state request, left before the answer is read
      return whole;
  }
}

struct GoodClient {
  explicit GoodClient(const Options& options) : options(options) {}

  void run() {
    std::unique_ptr<fcgiclient::FcgiClient> client;
    for (uint64_t turn = 0; !stop; ++turn) {
      if (!client) {
        int fd = options.connect();
        if (fd < 0) {
          ++failures;
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          continue;
        }
        client = std::make_unique<fcgiclient::FcgiClient>(fd);
      }
      const bool write = turn % 2 == 1;
      const auto start = Clock::now();
      const auto reply =
          write ? client->request({{"SCRIPT_NAME", "/api/v1/set.cgi"}, {"REQUEST_METHOD", "POST"}},
                                  "{'MemPersistent':{'AUXTorque':" + std::to_string(1 + turn / 2 % 4) + "}}", true, 1,
                                  0, 30000)
                : client->request(kWholeState, "", true, 1, 0, 30000);
      worstMs = std::max(worstMs, millisecondsSince(start));
      const bool right = reply.ended && (write ? reply.stdoutText.find("\"result\": 1") != std::string::npos
                                               : reply.stdoutText.find("\"MemPersistent\"") != std::string::npos &&
                                                     reply.stdoutText.size() > 10000);
      if (right) {
        ++served;
      } else {
        ++failures;
        client.reset();
      }
    }
  }

  const Options& options;
  std::atomic<bool> stop = false;
  uint64_t served = 0;
  uint64_t failures = 0;
  double worstMs = 0;
};

struct SlowSender {
  int fd;
  std::string bytes;
  size_t sent = 0;
};
}  // namespace

Report run(const Options& options) {
  Report report;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(options.seconds);
  // Each phase gets its share of the time, so that a slow service still meets all of them.
  const auto malformedEnd = start + std::chrono::milliseconds(options.seconds * 500);
  const auto slowEnd = start + std::chrono::milliseconds(options.seconds * 700);
  GoodClient good(options);
  std::thread goodThread([&good] { good.run(); });
  std::mt19937 random(options.seed);
  // A hostile connection the service did not take is counted, not retried.
  auto connectCounted = [&] {
    int fd = options.connect();
    if (fd < 0) ++report.refused;
    return fd;
  };

  std::vector<SlowSender> slow;
  for (int i = 0; i < options.slowSenders; ++i) {
    int fd = connectCounted();
    if (fd < 0) continue;
    slow.push_back({fd, encodeRequest(kWholeState, "", false, 1)});
  }

  // Malformed connections interleaved with the slow senders' bytes.
  auto nextSlowByte = Clock::now();
  auto feedSlowSenders = [&] {
    if (Clock::now() < nextSlowByte) return;
    nextSlowByte = Clock::now() + std::chrono::milliseconds(options.slowByteMs);
    for (auto& sender : slow)
      if (sender.sent < sender.bytes.size()) sendQuietly(sender.fd, sender.bytes.substr(sender.sent++, 1));
  };
  for (int i = 0; i < options.malformed && Clock::now() < malformedEnd; ++i) {
    feedSlowSenders();
    int fd = connectCounted();
    if (fd < 0) continue;
    ++report.malformedSent;
    sendQuietly(fd, malformedInput(random));
    if (random() % 2 == 0) {
      closeAbruptly(fd);
    } else {
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
  }
  while (Clock::now() < slowEnd &&
         std::any_of(slow.begin(), slow.end(), [](const SlowSender& s) { return s.sent < s.bytes.size(); })) {
    feedSlowSenders();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (auto& sender : slow) {
    fcgiclient::FcgiClient reader(sender.fd);
    auto reply = reader.readReply(std::max(
        1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slowEnd - Clock::now()).count())));
    if (reply.ended && reply.stdoutText.find("\"MemPersistent\"") != std::string::npos) ++report.slowServed;
  }

  // Non-readers: a small receive buffer fills with the first answers, then the service's writes stall.
  std::vector<int> nonReaders;
  for (int i = 0; i < options.nonReaders; ++i) {
    int fd = connectCounted();
    if (fd < 0) continue;
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::string pipelined;
    for (uint16_t id = 1; id <= 8; ++id) pipelined += encodeRequest(kWholeState, "", true, id);
    sendQuietly(fd, pipelined);
    nonReaders.push_back(fd);
  }

  // The flood: more waiting requests than the table holds, answered by the good client's writes.
  std::vector<int> flood;
  for (int i = 0; i < options.flood && Clock::now() < deadline; ++i) {
    int fd = connectCounted();
    if (fd < 0) continue;
    sendQuietly(fd, encodeRequest(kUpdate, "", true, 1));
    flood.push_back(fd);
  }
  const auto floodEnd = std::min(deadline, Clock::now() + std::chrono::milliseconds(options.floodHoldMs));
  while (Clock::now() < floodEnd) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int fd : flood) {
    if (readable(fd)) {
      char byte;
      if (::recv(fd, &byte, 1, MSG_PEEK) > 0) ++report.floodAccepted;
    }
    closeAbruptly(fd);
  }
  for (int fd : nonReaders) closeAbruptly(fd);

  good.stop = true;
  goodThread.join();
  report.goodRequests = good.served;
  report.goodFailures = good.failures;
  report.goodWorstMs = good.worstMs;

  // Once the abuse has gone, a newcomer is served again (the table's entries were released).
  for (int attempt = 0; attempt < 50 && !report.servesAfterwards; ++attempt) {
    int fd = options.connect();
    if (fd >= 0) {
      fcgiclient::FcgiClient fresh(fd);
      auto reply = fresh.request(kWholeState, "", false, 1, 0, 10000);
      report.servesAfterwards = reply.ended && reply.stdoutText.find("\"MemPersistent\"") != std::string::npos;
    }
    if (!report.servesAfterwards) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  report.seconds = millisecondsSince(start) / 1000;
  return report;
}

namespace {
long tcpMemoryPages() {
  std::ifstream sockstat("/proc/net/sockstat");
  std::string word;
  while (sockstat >> word)
    if (word == "TCP:")
      while (sockstat >> word)
        if (word == "mem") {
          long pages = -1;
          sockstat >> pages;
          return pages;
        }
  return -1;
}
}  // namespace

NonReaderMemory nonReaderMemory(const std::function<int()>& connect, int readers, int holdMs) {
  NonReaderMemory memory;
  memory.pagesBefore = tcpMemoryPages();
  std::vector<int> held;
  for (int i = 0; i < readers; ++i) {
    int fd = connect();
    if (fd < 0) continue;
    sendQuietly(fd, encodeRequest(kWholeState, "", true, 1));
    held.push_back(fd);
  }
  memory.connected = static_cast<int>(held.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
  memory.pagesHeld = tcpMemoryPages();
  for (int fd : held) closeAbruptly(fd);
  return memory;
}

}  // namespace hostileload
