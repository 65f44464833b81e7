#include "apps/web/service/connection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/fcgirecord.h"

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kBeginBodySize = 8;
constexpr size_t kLargestRecord = kHeaderSize + 65535 + 255;
// A peer that takes none of its answer for this long is given up.
constexpr std::chrono::milliseconds kOutputStall{5000};
constexpr unsigned char kZeros[8] = {};

// One read buffer for every connection: the loop is single-threaded and a handler never reads a
// connection, so it is never in use twice. Large enough for a whole record after a full read.
unsigned char readBuffer[kLargestRecord + 65536];

unsigned int contentLength(const unsigned char* header) { return (header[4] << 8) | header[5]; }

size_t recordSize(const unsigned char* header) { return kHeaderSize + contentLength(header) + header[6]; }

// Empties a buffer but keeps a modest capacity, so the next answer on the connection does not grow
// it from nothing; a large one is released.
void empty(std::string& buffer) {
  constexpr size_t kKeptCapacity = 64 * 1024;
  buffer.clear();
  if (buffer.capacity() > kKeptCapacity) buffer.shrink_to_fit();
}

// A body source is read in pieces of this size, one record's worth; several leave per turn at most.
constexpr size_t kSourcePiece = Request::kMaxContent;
constexpr int kSourcePiecesPerTurn = 16;
char sourceBuffer[kSourcePiece];

// The answer to a body larger than may be held, given in place of the handler's.
constexpr std::string_view kBodyTooLarge =
    "Status: 413 Payload Too Large\r\nContent-type: application/json\r\n\r\n"
    "{\"result\": 0, \"error\": \"Request body too large\" }";

constexpr std::string_view kBusy =
    "Status: 503 Service Unavailable\r\nContent-type: application/json\r\n\r\n"
    "{\"result\": 0, \"error\": \"Too many requests in progress\" }";

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
}  // namespace

Connection::Connection(Fcgi* fcgi, int fd, unsigned int id) : fcgi(fcgi), fd(fd), current(this, id) {}

Connection::~Connection() {
  if (fd >= 0) close();
}

void Connection::event(EventType type) {
  // An event fetched in the same batch in which the connection was removed or closed is stale.
  if (fd < 0 || (fcgi != nullptr && !registered)) return;
  if (type == HangUp) {
    if (fcgi != nullptr) fcgi->removeRequest(this);
    return;
  }
  if (type == Writable) {
    sendUnsent();
    if (streaming && unsentBytes() == 0 && fd >= 0) pumpSource();
    return;
  }
  readInput();
}

void Connection::readInput() {
  // A peer that closed its side may never be reported as hung up; it would stay readable forever.
  if (receive() == Input::Closed && fcgi != nullptr) fcgi->removeRequest(this);
}

// Reads what the socket holds and processes every record that is whole; the rest of a record is
// kept for the next read, so the loop never waits for a peer that sends in pieces.
Connection::Input Connection::receive() {
  if (fd < 0) THROW_ERROR("Request is already closed.");
  if (!partial.empty()) return receiveRest();
  ssize_t got = ::read(fd, readBuffer, sizeof readBuffer);
  if (got == 0) return Input::Closed;
  if (got < 0) return transient(errno) ? Input::Nothing : Input::Closed;
  lastActivity = std::chrono::steady_clock::now();
  return processRecords(readBuffer, static_cast<size_t>(got));
}

// Processes the whole records at the start of `data` and keeps the rest. Records behind an answer
// that waits for the peer or still streams are kept as well, and taken up once it has left.
Connection::Input Connection::processRecords(const unsigned char* data, size_t size) {
  size_t used = 0;
  bool processed = false;
  while (fd >= 0 && unsentBytes() == 0 && !streaming) {
    size_t available = size - used;
    if (available < kHeaderSize || available < recordSize(data + used)) break;
    processed |= processRecord(data + used);
    used += recordSize(data + used);
  }
  if (fd >= 0 && used < size) partial.assign(data + used, data + size);
  return processed ? Input::Processed : Input::Nothing;
}

// Completes a record begun by an earlier read, reading no more than it lacks; input already held
// whole is processed without reading.
Connection::Input Connection::receiveRest() {
  size_t have = partial.size();
  size_t whole = have < kHeaderSize ? kHeaderSize : recordSize(reinterpret_cast<unsigned char*>(partial.data()));
  if (have < whole) {
    partial.resize(whole);
    ssize_t got = ::read(fd, partial.data() + have, whole - have);
    if (got <= 0) {
      partial.resize(have);
      return got < 0 && transient(errno) ? Input::Nothing : Input::Closed;
    }
    partial.resize(have + got);
    lastActivity = std::chrono::steady_clock::now();
    if (partial.size() < kHeaderSize || partial.size() < recordSize(reinterpret_cast<unsigned char*>(partial.data())))
      return Input::Nothing;
  }
  std::string held = std::move(partial);
  partial.clear();
  return processRecords(reinterpret_cast<unsigned char*>(held.data()), held.size());
}

bool Connection::processRecord(const unsigned char* record) {
  try {
    return dispatchRecord(record);
  } catch (const std::bad_alloc&) {
    // Input larger than memory (an endless body or stream of parameters) costs its own connection,
    // not the service.
    LOG(Error, "Request %u: no memory for its input; the connection is dropped.", current.id);
    dropInput();
    return false;
  }
}

void Connection::dropInput() {
  current.params.clear();
  current.paramOrder.clear();
  current.paramsMatched = 0;
  current.dropBody();
  phase = Phase::Idle;
  ::shutdown(fd, SHUT_RDWR);
}

bool Connection::dispatchRecord(const unsigned char* record) {
  unsigned char type = record[1];
  unsigned int recordId = (record[2] << 8) | record[3];
  unsigned int length = contentLength(record);
  LOG(DebugAll, "REQUEST     rx(%i, %i, %i)", recordId, type, length);
  const unsigned char* body = record + kHeaderSize;
  if (type == 0 || type > kGetValuesResult) {
    const unsigned char unknown[8] = {type};
    sendManagement(kUnknownType, 0, unknown, sizeof unknown);
    return true;
  }
  // Records of a request other than the current one are not mixed into it.
  const bool ofCurrent = phase != Phase::Idle && recordId == current.requestId;
  switch (type) {
    case kBeginRequest:
      // A shorter body has no flags byte; what follows it belongs to the next record.
      if (length < kBeginBodySize) return false;
      if (phase == Phase::Idle) {
        begin(static_cast<unsigned short>(recordId), (body[2] & 1) != 0);
      } else if (!ofCurrent) {
        // One request at a time: the one in progress keeps the connection.
        const unsigned char refusal[8] = {0, 0, 0, 0, kCantMultiplexConnection};
        sendManagement(kEndRequest, static_cast<uint16_t>(recordId), refusal, sizeof refusal);
      }
      break;
    case kAbortRequest:
      if (ofCurrent) abortRequest();
      break;
    case kGetValues:
      answerValues(body, length);
      break;
    case kParams:
      if (phase != Phase::Reading || !ofCurrent) return false;
      if (length > 0 && !paramsDone)
        current.addParams(body, static_cast<int>(length));
      else
        paramsComplete();
      break;
    case kStdin:
      if (phase != Phase::Reading || !ofCurrent) return false;
      paramsComplete();
      if (length > 0)
        current.receiveBody({reinterpret_cast<const char*>(body), length});
      else
        bodyComplete();
      break;
    default:
      break;
  }
  return true;
}

void Connection::answerValues(const unsigned char* body, size_t length) {
  std::string values;
  auto add = [&values](std::string_view name, size_t value) {
    const std::string text = std::to_string(value);
    values += static_cast<char>(name.size());
    values += static_cast<char>(text.size());
    values.append(name).append(text);
  };
  // Only the names the peer asks for and this side knows are answered.
  Request::decodePairs(body, length, [&](std::string_view name, std::string_view) {
    if (name == "FCGI_MAX_CONNS")
      add(name, fcgi != nullptr ? fcgi->maxConnections() : 1);
    else if (name == "FCGI_MAX_REQS")
      add(name, Fcgi::kMaxRequests);
    else if (name == "FCGI_MPXS_CONNS")
      add(name, 0);
  });
  sendManagement(kGetValuesResult, 0, reinterpret_cast<const unsigned char*>(values.data()), values.size());
}

void Connection::sendManagement(unsigned char type, uint16_t requestId, const unsigned char* body, size_t length) {
  Gather gather;
  if (queueRecord(gather, type, requestId, reinterpret_cast<const char*>(body), length)) flush(gather);
}

// The peer no longer wants the answer: it gets the end record at once, and the request leaves the
// handler's waiting passes.
void Connection::abortRequest() {
  LOG(DebugMost, "REQUEST  abort(%i, %i)", current.id, current.requestId);
  current.waits = Waits::Nothing;
  current.since.reset();
  current.finishParams();
  current.resetOutput();
  current.dropBody();
  streaming = false;
  phase = Phase::Serving;
  endRequest({}, {});
}

void Connection::begin(uint16_t requestId, bool newKeepConn) {
  current.begin(requestId);
  keepConn = newKeepConn;
  paramsDone = false;
  streaming = false;
  phase = Phase::Reading;
  LOG(DebugMost, "REQUEST  begin(%i, %i, %s)", fd, requestId, keepConn ? "true" : "false");
}

// Once per request, before any of its body: a route that takes large bodies hands over its sink here.
void Connection::paramsComplete() {
  if (paramsDone) return;
  paramsDone = true;
  current.finishParams();
  if (fcgi != nullptr) fcgi->paramsComplete(this);
}

void Connection::bodyComplete() {
  if (current.bodyTooLarge) {
    phase = Phase::Serving;
    return refuseBody();
  }
  if (fcgi != nullptr)
    fcgi->addRequest(this);
  else
    phase = Phase::Serving;
}

void Connection::refuseBusy() {
  LOG(Warn, "Request %u waited too long for a place; refused.", current.id);
  phase = Phase::Serving;
  current.resetOutput();
  current.dropBody();
  endRequest(kBusy, {});
}

void Connection::refuseBody() {
  LOG(Warn, "Request %u: its body is larger than %zu bytes and no route takes it in pieces; refused.", current.id,
      Request::kMaxHeldBody);
  current.resetOutput();
  current.dropBody();
  endRequest(kBodyTooLarge, {});
}

void Connection::sendStdout(std::string_view text) { sendRecord(kStdout, text.data(), text.size()); }

void Connection::sendStderr(std::string_view text) { sendRecord(kStderr, text.data(), text.size()); }

int Connection::sendRecord(unsigned char type, const char* data, size_t length) {
  if (fd < 0) {
    errno = EBADF;
    THROW_ERROR_NUMBER("Request is already closed.");
  }
  Gather gather;
  return queueRecord(gather, type, current.requestId, data, length) && flush(gather) ? 0 : -1;
}

void Connection::endRequest(std::string_view output, std::string_view errors) {
  if (fcgi == nullptr) throw std::runtime_error("Request has no Fcgi.");
  if (fd < 0) {
    errno = EBADF;
    THROW_ERROR_NUMBER("Request is already closed.");
  }
  // Ended already (the peer aborted it): a late end from the handler sends nothing.
  if (phase != Phase::Serving) return;
  Gather gather;
  const uint16_t id = current.requestId;
  if (queueRecord(gather, kStdout, id, output.data(), output.size()) &&
      queueRecord(gather, kStderr, id, errors.data(), errors.size()) &&
      queueRecord(gather, kEndRequest, id, reinterpret_cast<const char*>(kZeros), sizeof kZeros))
    flush(gather);
  current.resetOutput();
  finish();
}

void Connection::finish() {
  current.dropBody();
  streaming = false;
  phase = Phase::Idle;
  lastActivity = std::chrono::steady_clock::now();
  LOG(DebugMost, "REQUEST    end(%i, %i)", current.id, current.requestId);
  if (!keepConn) {
    // Closing now would lose the answer's tail; it closes once the peer has taken it.
    if (unsentBytes() > 0) {
      closeWhenSent = true;
      return;
    }
    fcgi->removeRequest(this);
    close();
  }
}

void Connection::streamThenEnd() {
  if (fcgi == nullptr) throw std::runtime_error("Request has no Fcgi.");
  streaming = true;
  if (unsentBytes() == 0) pumpSource();
}

void Connection::pumpSource() {
  for (int piece = 0; piece < kSourcePiecesPerTurn; ++piece) {
    if (fd < 0 || unsentBytes() > 0) return;  // the rest follows once the peer has taken this
    long long got = current.source->read(sourceBuffer, sizeof sourceBuffer);
    if (got < 0) {
      // The head has gone out already: only a broken connection tells the client the answer is incomplete.
      LOG(Error, "Request %u: its answer could not be read on; the connection is dropped.", current.id);
      current.dropBody();
      streaming = false;
      abandonOutput();
      return;
    }
    if (got == 0) {
      streaming = false;
      endRequest({}, current.err.view());
      // Input that came while the answer was streamed is not announced again by the poll.
      if (fd >= 0 && !partial.empty()) readInput();
      return;
    }
    sendRecord(kStdout, sourceBuffer, static_cast<size_t>(got));
  }
  // The socket takes more: the next pieces go when it next reports itself writable, a turn later.
  if (unsentBytes() == 0 && fd >= 0) {
    try {
      if (fcgi != nullptr && registered) fcgi->watchOutput(this, true);
    } catch (const std::exception&) {
      abandonOutput();
    }
  }
}

// Appends the record in chunks of at most kMaxContent bytes, the last one padded to a multiple
// of 8; an empty record is never sent. Writes out earlier records when the gather is full.
bool Connection::queueRecord(Gather& gather, unsigned char type, uint16_t requestId, const char* data, size_t length) {
  size_t padding = (8 - length % 8) % 8;
  while (length > 0) {
    if (gather.records == Gather::kMaxRecords && !flush(gather)) return false;
    size_t chunk = std::min<size_t>(length, Request::kMaxContent);
    bool last = chunk == length;
    unsigned char* header = gather.headers[gather.records++];
    header[0] = 1;
    header[1] = type;
    header[2] = static_cast<unsigned char>(requestId >> 8);
    header[3] = static_cast<unsigned char>(requestId);
    header[4] = static_cast<unsigned char>(chunk >> 8);
    header[5] = static_cast<unsigned char>(chunk);
    header[6] = last ? static_cast<unsigned char>(padding) : 0;
    header[7] = 0;
    LOG(DebugAll, "REQUEST     tx(%i, %i, %i)", requestId, type, static_cast<int>(chunk));
    gather.parts[gather.count++] = {header, kHeaderSize};
    gather.parts[gather.count++] = {const_cast<char*>(data), chunk};
    if (last && padding > 0) gather.parts[gather.count++] = {const_cast<unsigned char*>(kZeros), padding};
    data += chunk;
    length -= chunk;
  }
  return true;
}

bool Connection::flush(Gather& gather) {
  bool sent = gather.count == 0 || sendAll(gather.parts, gather.count);
  gather.records = 0;
  gather.count = 0;
  return sent;
}

// Writes what the socket takes now and keeps the rest, behind any output already waiting, to send
// as the peer reads. Whole records are committed, so the peer never sees one cut short.
bool Connection::sendAll(iovec* parts, int count) {
  if (fd < 0) return false;
  while (count > 0 && unsentBytes() == 0) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      abandonOutput();
      return false;
    }
    auto left = static_cast<size_t>(sent);
    while (count > 0 && left >= parts->iov_len) {
      left -= parts->iov_len;
      ++parts;
      --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + left;
      parts->iov_len -= left;
    }
  }
  return count == 0 || keepUnsent(parts, count);
}

bool Connection::keepUnsent(const iovec* parts, int count) {
  if (unsentBytes() == 0) {
    lastProgress = std::chrono::steady_clock::now();
    try {
      if (fcgi != nullptr) fcgi->watchOutput(this, true);
    } catch (const std::exception&) {
      abandonOutput();  // reported by the diagnostic layer; without writability events it would never leave
      return false;
    }
  }
  for (int i = 0; i < count; ++i) unsent.append(static_cast<const char*>(parts[i].iov_base), parts[i].iov_len);
  return true;
}

void Connection::sendUnsent() {
  while (unsentBytes() > 0) {
    ssize_t sent = ::send(fd, unsent.data() + unsentFrom, unsentBytes(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) abandonOutput();
      return;
    }
    unsentFrom += static_cast<size_t>(sent);
    lastProgress = std::chrono::steady_clock::now();
  }
  empty(unsent);
  unsentFrom = 0;
  if (closeWhenSent) {
    fcgi->removeRequest(this);
    close();
    return;
  }
  try {
    fcgi->watchOutput(this, false);
  } catch (const std::exception&) {
    abandonOutput();  // reported by the diagnostic layer; the connection could not be read again
    return;
  }
  // Input that came behind the answer is not announced again by the poll.
  if (!partial.empty()) readInput();
}

void Connection::abandonOutput() {
  ::shutdown(fd, SHUT_RDWR);
  unsent.clear();
  unsent.shrink_to_fit();
  unsentFrom = 0;
  closeWhenSent = false;
}

size_t Connection::kernelQueued() const {
  int queued = 0;
  if (fd < 0 || ::ioctl(fd, SIOCOUTQNSD, &queued) < 0 || queued < 0) return 0;
  return static_cast<size_t>(queued);
}

// No progress for too long: the peer has taken nothing, neither from here nor from the kernel's queue.
bool Connection::outputStalled(std::chrono::steady_clock::time_point now) {
  const size_t queued = unsentBytes() + kernelQueued();
  if (queued != lastQueued) {
    if (queued < lastQueued || lastQueued == 0) lastProgress = now;
    lastQueued = queued;
  }
  return queued > 0 && now - lastProgress > kOutputStall;
}

int Connection::close() {
  ::shutdown(fd, SHUT_RDWR);
  int result = ::close(fd);
  fd = -1;
  partial.clear();
  unsent.clear();
  unsentFrom = 0;
  return result;
}
