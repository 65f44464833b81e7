#include "apps/common/event/serverconnection.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

ServerConnection::ServerConnection(EventPoll& poll) : poll(poll) {
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
  fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) THROW_ERROR_NUMBER("socket");
  try {
    poll.add(fd, this, EPOLLIN);
  } catch (...) {
    ::close(fd);
    fd = -1;
    throw;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kSocketPath, sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int reason = errno;
    close();
    errno = reason;
    THROW_ERROR_NUMBER("connect");
  }
}

void ServerConnection::close() {
  if (fd < 0) return;
  poll.remove(fd);
  ::shutdown(fd, SHUT_WR);
  char discard[256];
  pollfd readable{fd, POLLIN, 0};
  while (::poll(&readable, 1, kDrainWaitMs) > 0 && ::read(fd, discard, sizeof discard) > 0) {
  }
  ::close(fd);
  fd = -1;
  partialLength = 0;
}

void ServerConnection::event(EventType type) {
  if (type == HangUp) return close();
  if (type != Readable) return;
  Notify buffer[kRecordsPerReport] = {};
  int count = readEvents(fd, buffer, kRecordsPerReport);
  // A closed stream stays readable forever in a level-triggered poll; it is a hang-up.
  if (count < 0) return close();
  for (int i = 0; i < count; ++i) {
    if (eventHandler != nullptr)
      eventHandler->handleEvent(buffer[i]);
    else
      LOG(Warn, "Unhandled event: %s", eventNamer != nullptr ? eventNamer(buffer[i]) : "unnamed");
  }
}

void ServerConnection::postEvent(Notify const& notify) {
  if (::send(fd, &notify, sizeof notify, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof notify))
    THROW_ERROR("Could not send message to server");
}

void ServerConnection::subscribe(Notify const& notify) {
  Notify records[2] = {{EventSubscribe, 0, 0}, notify};
  if (::send(fd, records, sizeof records, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof records))
    THROW_ERROR("Could not send message to server");
}

void ServerConnection::subscribeAll() { postEvent(Notify{EventSubscribeAll, 0, 0}); }

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
