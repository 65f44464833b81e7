#include "tools/message-broker/broker.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {
constexpr size_t kRecordBytes = 12;
constexpr size_t kReadBytes = 64 * 1024;
enum : uint32_t { kSubscribe = 1, kUnsubscribe = 2, kSubscribeAll = 3, kUnsubscribeAll = 4 };

uint32_t wordAt(const unsigned char* record, size_t index) {
  uint32_t word;
  std::memcpy(&word, record + index * sizeof word, sizeof word);
  return word;
}

void fail(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }
}  // namespace

struct Broker::Client {
  // What the next record means after a Subscribe or Unsubscribe control record.
  enum class Expect { Record, SubscribeTarget, UnsubscribeTarget };

  int fd;
  unsigned number;
  unsigned char partial[kRecordBytes] = {};
  size_t partialLength = 0;
  Expect expect = Expect::Record;
  bool all = false;
  std::set<uint32_t> events;
  std::string output;
  bool watchingOutput = false;

  bool subscribed(uint32_t event) const { return all || events.count(event) != 0; }
};

Broker::Broker(int listenFd, size_t maxPendingBytes, bool trace)
    : listenFd(listenFd), maxPending(maxPendingBytes), trace(trace) {
  epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) fail("epoll_create1");
  if (listenFd >= 0) {
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = listenFd;
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &interest) != 0) fail("epoll_ctl");
  }
}

Broker::~Broker() {
  for (auto& entry : clients) ::close(entry.first);
  if (listenFd >= 0) ::close(listenFd);
  ::close(epollFd);
}

// A client that cannot be watched is turned away; the broker goes on serving the others.
void Broker::adopt(int fd) {
  epoll_event interest{};
  interest.events = EPOLLIN | EPOLLRDHUP;
  interest.data.fd = fd;
  if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &interest) != 0) {
    std::fprintf(stderr, "message-broker: turning a client away: %s\n", std::strerror(errno));
    ::close(fd);
    return;
  }
  auto client = std::make_unique<Client>();
  client->fd = fd;
  client->number = nextNumber++;
  if (trace) std::fprintf(stderr, "message-broker: client %u connected\n", client->number);
  clients[fd] = std::move(client);
}

bool Broker::step(int timeoutMs) {
  epoll_event ready[64];
  int count = ::epoll_wait(epollFd, ready, 64, timeoutMs);
  if (count < 0) {
    if (errno == EINTR) return false;
    fail("epoll_wait");
  }
  for (int i = 0; i < count; ++i) {
    int fd = ready[i].data.fd;
    if (fd == listenFd) {
      accept();
      continue;
    }
    auto found = clients.find(fd);
    if (found == clients.end() || dropped.count(fd) != 0) continue;
    Client& client = *found->second;
    if (ready[i].events & EPOLLOUT) flush(client);
    if (dropped.count(fd) == 0 && (ready[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) receive(client);
  }
  for (int fd : touched) {
    auto found = clients.find(fd);
    if (found != clients.end() && dropped.count(fd) == 0) flush(*found->second);
  }
  touched.clear();
  sweep();
  return true;
}

void Broker::accept() {
  int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno != EAGAIN && errno != EINTR) std::fprintf(stderr, "message-broker: accept: %s\n", std::strerror(errno));
    return;
  }
  adopt(fd);
}

// Reads one bounded chunk per readiness report, so a client that floods cannot starve the others.
void Broker::receive(Client& client) {
  unsigned char buffer[kReadBytes];
  ssize_t length = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (length == 0) return drop(client, nullptr);
  if (length < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    return drop(client, std::strerror(errno));
  }
  const unsigned char* next = buffer;
  size_t left = static_cast<size_t>(length);
  if (client.partialLength > 0) {
    size_t take = std::min(left, kRecordBytes - client.partialLength);
    std::memcpy(client.partial + client.partialLength, next, take);
    client.partialLength += take;
    next += take;
    left -= take;
    if (client.partialLength < kRecordBytes) return;
    client.partialLength = 0;
    handleRecord(client, client.partial);
  }
  for (; left >= kRecordBytes; next += kRecordBytes, left -= kRecordBytes) handleRecord(client, next);
  std::memcpy(client.partial, next, left);
  client.partialLength = left;
}

void Broker::handleRecord(Client& client, const unsigned char* record) {
  uint32_t event = wordAt(record, 0);
  if (trace)
    std::fprintf(stderr, "message-broker: client %u sent %u %u %u\n", client.number, event, wordAt(record, 1),
                 wordAt(record, 2));
  switch (client.expect) {
    case Client::Expect::SubscribeTarget:
      client.expect = Client::Expect::Record;
      client.events.insert(event);
      return;
    case Client::Expect::UnsubscribeTarget:
      client.expect = Client::Expect::Record;
      client.events.erase(event);
      return;
    case Client::Expect::Record:
      break;
  }
  switch (event) {
    case kSubscribe:
      client.expect = Client::Expect::SubscribeTarget;
      return;
    case kUnsubscribe:
      client.expect = Client::Expect::UnsubscribeTarget;
      return;
    case kSubscribeAll:
      client.all = true;
      return;
    case kUnsubscribeAll:
      client.all = false;
      client.events.clear();
      return;
    default:
      forward(record, event);
  }
}

void Broker::forward(const unsigned char* record, uint32_t event) {
  for (auto& entry : clients) {
    Client& receiver = *entry.second;
    if (dropped.count(receiver.fd) == 0 && receiver.subscribed(event)) queue(receiver, record, kRecordBytes);
  }
}

// Output is gathered per client and sent once per step: one small send per record would cost the
// receiver's socket buffer a whole packet each and fill it after a few hundred records.
void Broker::queue(Client& client, const unsigned char* data, size_t length) {
  client.output.append(reinterpret_cast<const char*>(data), length);
  touched.insert(client.fd);
}

void Broker::flush(Client& client) {
  while (!client.output.empty()) {
    ssize_t sent = ::send(client.fd, client.output.data(), client.output.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      return drop(client, std::strerror(errno));
    }
    client.output.erase(0, static_cast<size_t>(sent));
  }
  if (client.output.size() > maxPending) return drop(client, "it does not read its events");
  bool wantOutput = !client.output.empty();
  if (wantOutput == client.watchingOutput) return;
  epoll_event interest{};
  interest.events = EPOLLIN | EPOLLRDHUP | (wantOutput ? EPOLLOUT : 0u);
  interest.data.fd = client.fd;
  ::epoll_ctl(epollFd, EPOLL_CTL_MOD, client.fd, &interest);
  client.watchingOutput = wantOutput;
}

// The descriptor stays open until sweep(), so its number cannot be reused by an accept in the same step.
void Broker::drop(Client& client, const char* reason) {
  if (!dropped.insert(client.fd).second) return;
  ::epoll_ctl(epollFd, EPOLL_CTL_DEL, client.fd, nullptr);
  if (reason != nullptr)
    std::fprintf(stderr, "message-broker: dropping client %u: %s\n", client.number, reason);
  else if (trace)
    std::fprintf(stderr, "message-broker: client %u hung up\n", client.number);
}

void Broker::sweep() {
  for (int fd : dropped) {
    ::close(fd);
    clients.erase(fd);
  }
  dropped.clear();
}
