#include "apps/web/service/fcgi.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>

#include "apps/common/log/log.h"
#include "apps/web/service/connection.h"

namespace {
// A front opens its connections in bursts (nginx a dozen and more at once), and a connection the
// queue has no room for waits for the kernel's one-second retry. No deeper than the table, though:
// every queued connection is work the service takes on, and a flood must not crowd the others out.
constexpr int kBacklog = static_cast<int>(Fcgi::kMaxRequests);

int descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) < 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX)
    return INT_MAX;
  return static_cast<int>(limit.rlim_cur);
}

// Closes the descriptor without losing the errno that explains why.
void closeKeepingError(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}
}  // namespace

Fcgi::Fcgi(int port, EventPoll& poll) : poll(poll) {
  // Non-blocking: a connection that is gone before accept must not stall the loop.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) THROW_ERROR_NUMBER("socket");
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    closeKeepingError(fd);
    THROW_ERROR_NUMBER("bind");
  }
  if (::listen(fd, kBacklog) < 0) {
    closeKeepingError(fd);
    THROW_ERROR_NUMBER("listen");
  }
  listenOn(fd);
}

Fcgi::Fcgi(EventPoll& poll) : poll(poll) {
  int flags = ::fcntl(0, F_GETFL);
  if (flags >= 0) ::fcntl(0, F_SETFL, flags | O_NONBLOCK);
  listenOn(0);
}

void Fcgi::listenOn(int fd) {
  try {
    poll.add(fd, this, EPOLLIN);
  } catch (...) {
    ::close(fd);
    throw;
  }
  listenFd = fd;
}

Fcgi::~Fcgi() {
  if (listenFd >= 0) ::close(listenFd);
  listenFd = -1;
  // Answers still owed are ended so the web server is not left waiting; the destructor must not
  // throw, whatever state a connection is in.
  for (auto& [requestId, request] : table) {
    Connection* connection = connections.at(requestId);
    if (connection->phase != Connection::Phase::Serving || !connection->isOpen()) continue;
    try {
      request->end();
    } catch (...) {
      // already reported by the diagnostic layer
    }
  }
  for (auto& [connectionId, connection] : connections) {
    if (connection->registered && connection->isOpen()) {
      try {
        poll.remove(connection->fd);
      } catch (...) {
        // the descriptor is closed below, which deregisters it as well
      }
    }
    delete connection;
  }
}

int Fcgi::port() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) < 0) return -1;
  return ntohs(address.sin_port);
}

size_t Fcgi::maxConnections() const {
  // The descriptors below the listener's are the process's own, held from its start.
  const long room = static_cast<long>(descriptorLimit()) - kReservedDescriptors - (listenFd + 1);
  return room > 0 ? static_cast<size_t>(room) : 0;
}

void Fcgi::event(EventType type) {
  if (type == HangUp) return;
  int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    acceptFailed(errno);
    return;
  }
  // The lowest free descriptor tells whether the process's own descriptors reach into the reserve.
  const bool descriptorsShort =
      fd >= descriptorLimit() - kReservedDescriptors || connections.size() >= maxConnections();
  if (placesTaken() >= kMaxRequests || (descriptorsShort && !makeRoom(fd))) {
    ::close(fd);
    return;
  }
  // Each record leaves in one write; without this the end record would wait for a delayed ACK.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A fixed send queue instead of one the kernel grows to megabytes: what a reader that does not read
  // leaves in the kernel stays small, and the rest of its answer holds its place here.
  int sendBuffer = kSendBuffer;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  auto* connection = new Connection(this, fd, nextId++);
  connections.emplace(connection->request().id, connection);
  serveFirst(connection);
}

// The web server writes its request as soon as it has connected, so it is usually waiting already:
// reading it at once spares a turn of the loop, and a connection answered and closed right away
// never enters the poll.
void Fcgi::serveFirst(Connection* connection) {
  if (connection->receive() == Connection::Input::Closed) {
    removeRequest(connection);
    return;
  }
  if (!connection->isOpen()) return;
  try {
    // An answer still to be sent, from the buffer or its source, waits for writability.
    bool answering = connection->unsentBytes() > 0 || connection->streaming;
    poll.add(connection->fd, connection, answering ? EPOLLOUT : EPOLLIN);
  } catch (const std::exception&) {
    removeRequest(connection);  // reported by the diagnostic layer; the peer sees the connection closed
    return;
  }
  connection->registered = true;
}

// Failures that concern one connection or a passing shortage must not end the service.
void Fcgi::acceptFailed(int error) {
  switch (error) {
    case EINTR:
    case EAGAIN:
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
      return;
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENONET:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
      LOG(Warn, "accept: %s", std::strerror(error));
      return;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      LOG(Warn, "accept: %s", std::strerror(error));
      // The listener stays readable while the connection waits; without a free descriptor the
      // loop would spin. Free one, or stop listening until cleanup has released some.
      if (!evictOldestIdle()) pauseAccepting();
      return;
    default:
      errno = error;
      THROW_ERROR_NUMBER("accept");
  }
}

// Descriptors run short: the connection that has waited on its peer the longest gives its descriptor
// back, or the new one is refused and accepting waits for cleanup.
bool Fcgi::makeRoom(int fd) {
  if (evictOldestIdle()) return true;
  LOG(Warn, "Connection refused: descriptor %d would take from the reserve of %d.", fd, kReservedDescriptors);
  pauseAccepting();
  return false;
}

void Fcgi::pauseAccepting() {
  poll.remove(listenFd);
  acceptPaused = true;
}

// Closes the connection that has waited on its peer the longest.
bool Fcgi::evictOldestIdle() {
  Connection* oldest = nullptr;
  for (auto& [connectionId, connection] : connections)
    if (connection->registered && connection->waitsOnPeer() &&
        (oldest == nullptr || connection->lastActivity < oldest->lastActivity))
      oldest = connection;
  if (oldest == nullptr) return false;
  LOG(Warn, "Closing request %u, idle the longest, to free a descriptor.", oldest->request().id);
  removeRequest(oldest);
  oldest->close();
  return true;
}

void Fcgi::closeIdle() {
  const auto since = std::chrono::steady_clock::now() - idleBound;
  for (auto& [connectionId, connection] : connections) {
    if (!connection->registered || !connection->waitsOnPeer() || connection->lastActivity > since) continue;
    LOG(DebugMost, "REQUEST   idle(%u)", connectionId);
    removeRequest(connection);
    connection->close();
  }
}

void Fcgi::paramsComplete(Connection* connection) {
  if (requestCallback != nullptr) requestCallback->handleParams(&connection->request());
}

void Fcgi::addRequest(Connection* connection) {
  if (placesTaken() >= kMaxRequests) {
    connection->phase = Connection::Phase::Queued;
    connection->queuedAt = std::chrono::steady_clock::now();
    queued.push_back(connection->request().id);
    return;
  }
  enter(connection);
}

void Fcgi::enter(Connection* connection) {
  connection->phase = Connection::Phase::Serving;
  Request* request = &connection->request();
  table[request->id] = request;
  connections.emplace(request->id, connection);
  if (requestCallback != nullptr) requestCallback->handleRequest(request);
}

// Runs between loop turns, never inside a walk of the table: the handler may end requests as they enter.
void Fcgi::admitQueued() {
  const auto waitedTooLong = std::chrono::steady_clock::now() - queueBound;
  while (!queued.empty()) {
    auto found = connections.find(queued.front());
    Connection* connection = found == connections.end() ? nullptr : found->second;
    // Gone, aborted or refused meanwhile.
    if (connection == nullptr || connection->removed || connection->phase != Connection::Phase::Queued) {
      queued.pop_front();
    } else if (placesTaken() < kMaxRequests) {
      queued.pop_front();
      enter(connection);
    } else if (connection->queuedAt < waitedTooLong) {
      queued.pop_front();
      connection->refuseBusy();
    } else {
      return;
    }
  }
}

size_t Fcgi::placesTaken() const {
  size_t taken = 0;
  for (const auto& entry : table) taken += connections.at(entry.first)->holdsPlace() ? 1 : 0;
  return taken;
}

void Fcgi::removeRequest(Connection* connection) {
  if (connection->registered && connection->isOpen()) poll.remove(connection->fd);
  connection->registered = false;
  connection->removed = true;
  // A request whose client has gone waits for nothing: it holds no waiter's place.
  connection->request().waits = Waits::Nothing;
  // A body that was still arriving is given up now, not when the connection is deleted.
  if (connection->phase == Connection::Phase::Reading) connection->dropInput();
  LOG(DebugMost, "REQUEST remove(%i)", connection->request().id);
  pending.push_back(connection->request().id);
}

void Fcgi::removeRequest(Request* request) {
  auto found = connections.find(request->id);
  if (found != connections.end()) removeRequest(found->second);
}

void Fcgi::watchOutput(Connection* connection, bool waiting) {
  if (connection->registered) poll.modify(connection->fd, connection, waiting ? EPOLLOUT : EPOLLIN);
}

void Fcgi::abandonStalledOutput() {
  const auto now = std::chrono::steady_clock::now();
  for (auto& [requestId, connection] : connections) {
    // Only an answer given can stall; the kernel is asked only about connections that had one.
    if (!connection->registered || (connection->unsentBytes() == 0 && table.count(requestId) == 0)) continue;
    if (!connection->outputStalled(now)) continue;
    LOG(Warn, "Request %u took none of its answer for too long; the answer is abandoned.", requestId);
    connection->abandonOutput();
    removeRequest(connection);
  }
}

void Fcgi::cleanup() {
  abandonStalledOutput();
  closeIdle();
  if (acceptPaused && listenFd >= 0) {
    try {
      poll.add(listenFd, this, EPOLLIN);
      acceptPaused = false;
    } catch (const std::exception&) {
      // reported by the diagnostic layer; tried again at the next cleanup
    }
  }
  deleteRemoved();
}

void Fcgi::deleteRemoved() {
  for (auto entry = table.begin(); entry != table.end();) {
    const Connection* connection = connections.at(entry->first);
    if (!connection->holdsPlace() && !connection->removed)
      entry = table.erase(entry);
    else
      ++entry;
  }
  admitQueued();
  if (pending.empty()) return;
  std::vector<unsigned int> ids;
  ids.swap(pending);
  for (unsigned int requestId : ids) {
    auto found = connections.find(requestId);
    if (found == connections.end()) {
      LOG(Warn, "Request %u no longer a valid request, though marked for deletion.", requestId);
      continue;
    }
    Connection* connection = found->second;
    connections.erase(found);
    table.erase(requestId);
    LOG(DebugMost, "REQUEST delete(%i)", requestId);
    delete connection;
  }
}

Request* Fcgi::request(unsigned int requestId) const {
  auto found = table.find(requestId);
  return found == table.end() ? nullptr : found->second;
}
