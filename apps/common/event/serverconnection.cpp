#include "apps/common/event/serverconnection.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "apps/common/log/log.h"

namespace {
constexpr const char* kReadySemaphore = "/message-broker-ready";
constexpr const char* kSocketPath = "/var/volatile/message-broker.socket";
constexpr int kOpenAttempts = 20;
constexpr int kRecordsPerReport = 256;
constexpr int kDrainWaitMs = 100;

// No pause between attempts: the broker is started before every client, so only a start race is covered.
sem_t* openReadySemaphore(int& failed) {
  for (failed = 0;; ++failed) {
    sem_t* ready = ::sem_open(kReadySemaphore, 0);
    if (ready != SEM_FAILED) return ready;
    if (failed + 1 == kOpenAttempts) THROW_ERROR_NUMBER("sem_open");
    ::sched_yield();
  }
}

[[noreturn]] void closeAndThrow(sem_t* ready, const char* what) {
  int reason = errno;
  ::sem_close(ready);
  errno = reason;
  THROW_ERROR_NUMBER(what);
}
}  // namespace

ServerConnection::ServerConnection(EventPoll& poll) : poll(poll), retryTimer(poll, [this] { retry(); }) {
  LOG(LogLight, "Waiting for server");
  int failed = 0;
  sem_t* ready = openReadySemaphore(failed);
  while (::sem_wait(ready) != 0) {
    if (errno != EINTR || EventPoll::shouldTerminate()) closeAndThrow(ready, "sem_wait");
  }
  try {
    connect();
  } catch (...) {
    // Other clients of the broker wait on the same semaphore; this one must not keep them out.
    ::sem_post(ready);
    ::sem_close(ready);
    throw;
  }
  LOG(LogLight, "Connected after %i attempts", failed);
  if (::sem_post(ready) != 0) closeAndThrow(ready, "sem_post");
  ::sem_close(ready);
}

ServerConnection::~ServerConnection() { close(); }

void ServerConnection::connect() {
  const char* step = nullptr;
  if (int reason = tryConnect(&step)) {
    errno = reason;
    THROW_ERROR_NUMBER(step);
  }
}

// Non-blocking from the start: a connect to a broker whose backlog is full fails at once instead of
// waiting, and no send ever waits for the broker.
int ServerConnection::tryConnect(const char** step) {
  *step = "socket";
  int socketFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socketFd < 0) return errno;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kSocketPath, sizeof address.sun_path - 1);
  *step = "connect";
  if (::connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int reason = errno;
    ::close(socketFd);
    return reason;
  }
  *step = "epoll_ctl";
  try {
    poll.add(socketFd, this, EPOLLIN);
  } catch (const std::exception&) {
    int reason = errno != 0 ? errno : EIO;
    ::close(socketFd);
    return reason;
  }
  fd = socketFd;
  watchingOutput = false;
  return 0;
}

void ServerConnection::close() {
  retryTimer.stop();
  if (fd < 0) return;
  // Changes already stored are announced if the broker takes them within a short wait.
  for (pollfd writable{fd, POLLOUT, 0}; sent < pending.size() && ::poll(&writable, 1, kDrainWaitMs) > 0;)
    if (!sendHeld()) break;
  poll.remove(fd);
  ::shutdown(fd, SHUT_WR);
  char discard[256];
  pollfd readable{fd, POLLIN, 0};
  while (::poll(&readable, 1, kDrainWaitMs) > 0 && ::read(fd, discard, sizeof discard) > 0) {
  }
  ::close(fd);
  fd = -1;
  partialLength = 0;
  sent = 0;
  lostBecause = "closed by the service";
}

void ServerConnection::event(EventType type) {
  // A connection lost earlier in the same poll report may still have an event of its own in it.
  if (fd < 0) return;
  if (type == Writable) return flush();
  if (type == HangUp) {
    // What the broker wrote before it went is still read and handed out.
    while (fd >= 0 && receive() > 0) {
    }
    if (fd >= 0) lose("it hung up");
    return;
  }
  if (type != Readable) return;
  // A closed stream stays readable forever in a level-triggered poll; it is a hang-up.
  if (receive() < 0) return lose("it closed the connection");
  // Readability is reported before writability: a broker that keeps sending must not starve our output.
  if (fd >= 0 && watchingOutput) flush();
}

int ServerConnection::receive() {
  Notify buffer[kRecordsPerReport] = {};
  int count = readEvents(fd, buffer, kRecordsPerReport);
  for (int i = 0; i < count; ++i) {
    if (eventHandler != nullptr)
      eventHandler->handleEvent(buffer[i]);
    else
      LOG(Warn, "Unhandled event: %s", eventNamer != nullptr ? eventNamer(buffer[i]) : "unnamed");
  }
  return count;
}

void ServerConnection::postEvent(Notify const& notify) { queue(&notify, sizeof notify); }

void ServerConnection::subscribe(Notify const& notify) {
  Notify records[2] = {{EventSubscribe, 0, 0}, notify};
  queue(records, sizeof records);
}

void ServerConnection::subscribeAll() { postEvent(Notify{EventSubscribeAll, 0, 0}); }

std::string ServerConnection::refusal() const {
  return fd >= 0 ? std::string() : "no connection to the message broker (" + lostBecause + ")";
}

void ServerConnection::queue(const void* data, size_t length) {
  if (fd < 0 && heldBytes() + length > kMaxHeldBytes) THROW_ERROR("Could not send message to server");
  pending.append(static_cast<const char*>(data), length);
  if (fd < 0) return;
  // While output is watched the socket is full; the poll tells when it takes more.
  if (!watchingOutput) flush();
  if (fd >= 0 && heldBytes() > kMaxPendingBytes) lose("it does not read what the service sends");
}

bool ServerConnection::sendHeld() {
  while (sent < pending.size()) {
    ssize_t length = ::send(fd, pending.data() + sent, pending.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (length < 0 && errno == EINTR) continue;
    if (length < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    sent += static_cast<size_t>(length);
  }
  return true;
}

void ServerConnection::flush() {
  if (!sendHeld()) return lose(std::string("sending failed: ") + std::strerror(errno));
  // Only whole records leave the queue: one cut by a lost connection goes again whole on the next.
  size_t whole = sent - sent % sizeof(Notify);
  pending.erase(0, whole);
  sent -= whole;
  bool want = sent < pending.size();
  if (want == watchingOutput) return;
  poll.modify(fd, this, EPOLLIN | (want ? EPOLLOUT : 0u));
  watchingOutput = want;
}

void ServerConnection::lose(const std::string& reason) {
  LOG(Warn, "Lost the message broker: %s; connecting again", reason.c_str());
  lostBecause = reason;
  try {
    poll.remove(fd);
  } catch (const std::exception&) {
    // Already reported by the poll; the descriptor is closed all the same.
  }
  ::close(fd);
  fd = -1;
  partialLength = 0;
  sent = 0;
  watchingOutput = false;
  failedAttempts = 0;
  retryDelay = kFirstRetry;
  retryTimer.start(retryDelay);
}

// As at start-up, the broker's semaphore is passed before connecting, but never waited for: a broker
// not back yet, or a semaphore another client holds this moment, is simply tried again later.
void ServerConnection::retry() {
  const char* step = "sem_open";
  int reason = 0;
  sem_t* ready = ::sem_open(kReadySemaphore, 0);
  if (ready == SEM_FAILED) {
    reason = errno;
  } else {
    if (::sem_trywait(ready) == 0) {
      reason = tryConnect(&step);
      ::sem_post(ready);
    } else {
      step = "sem_trywait";
      reason = errno;
    }
    ::sem_close(ready);
  }
  if (reason != 0) {
    ++failedAttempts;
    LOG(DebugLight, "Message broker not back yet: %s: %s", step, std::strerror(reason));
    retryDelay = std::min(retryDelay * 2, kLastRetry);
    retryTimer.start(retryDelay);
    return;
  }
  LOG(Warn, "Message broker connection back after %u failed attempts", failedAttempts);
  lostBecause.clear();
  // Subscribed before anything held goes out, so that our own changes come back to the waiters too.
  const Notify all{EventSubscribeAll, 0, 0};
  pending.insert(0, reinterpret_cast<const char*>(&all), sizeof all);
  flush();
  if (fd >= 0 && eventHandler != nullptr) eventHandler->brokerReturned();
}

// A record cut by the stream is kept and completed by the next read: dropping its head would shift
// every later record by the missing bytes.
int ServerConnection::readEvents(int fd, Notify* buffer, int max) {
  if (max <= 0) return 0;
  auto* bytes = reinterpret_cast<unsigned char*>(buffer);
  std::memcpy(bytes, partial, partialLength);
  size_t capacity = static_cast<size_t>(max) * sizeof(Notify);
  ssize_t length = ::read(fd, bytes + partialLength, capacity - partialLength);
  if (length < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  // The broker closing with our unread input still queued shows as a reset; that is a hang-up too.
  if (length == 0 || (length < 0 && errno == ECONNRESET)) return -1;
  if (length < 0) THROW_ERROR("Read error");
  size_t total = partialLength + static_cast<size_t>(length);
  size_t whole = total / sizeof(Notify);
  partialLength = total % sizeof(Notify);
  std::memcpy(partial, bytes + whole * sizeof(Notify), partialLength);
  return static_cast<int>(whole);
}
