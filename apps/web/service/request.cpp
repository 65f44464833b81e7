#include "apps/web/service/request.h"

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

void empty(std::stringstream& stream) {
  // Already empty, and its capacity already bounded when it was emptied.
  if (stream.view().empty()) return;
  std::string buffer = std::move(stream).str();
  empty(buffer);
  stream.str(std::move(buffer));
}

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
}  // namespace

Request::Request(Fcgi* fcgi, int fd, unsigned int id) : id(id), fcgi(fcgi), fd(fd) {}

Request::~Request() {
  if (fd >= 0) close();
}

void Request::event(EventType type) {
  // An event fetched in the same batch in which the connection was removed or closed is stale.
  if (fd < 0 || (fcgi != nullptr && !registered)) return;
  if (type == HangUp) {
    if (fcgi != nullptr) fcgi->removeRequest(this);
    return;
  }
  if (type == Writable) return sendUnsent();
  readInput();
}

void Request::readInput() {
  // A peer that closed its side may never be reported as hung up; it would stay readable forever.
  if (receive() == Input::Closed && fcgi != nullptr) fcgi->removeRequest(this);
}

int Request::readRecord() { return receive() == Input::Processed ? 1 : 0; }

// Reads what the socket holds and processes every record that is whole; the rest of a record is
// kept for the next read, so the loop never waits for a peer that sends in pieces.
Request::Input Request::receive() {
  if (fd < 0) THROW_ERROR("Request is already closed.");
  if (!partial.empty()) return receiveRest();
  ssize_t got = ::read(fd, readBuffer, sizeof readBuffer);
  if (got == 0) return Input::Closed;
  if (got < 0) return transient(errno) ? Input::Nothing : Input::Closed;
  return processRecords(readBuffer, static_cast<size_t>(got));
}

// Processes the whole records at the start of `data` and keeps the rest. Records behind an answer
// that waits for the peer are kept as well, and taken up once it has left.
Request::Input Request::processRecords(const unsigned char* data, size_t size) {
  size_t used = 0;
  bool processed = false;
  while (fd >= 0 && unsentBytes() == 0) {
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
Request::Input Request::receiveRest() {
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
    if (partial.size() < kHeaderSize || partial.size() < recordSize(reinterpret_cast<unsigned char*>(partial.data())))
      return Input::Nothing;
  }
  std::string held = std::move(partial);
  partial.clear();
  return processRecords(reinterpret_cast<unsigned char*>(held.data()), held.size());
}

bool Request::processRecord(const unsigned char* record) {
  try {
    return dispatchRecord(record);
  } catch (const std::bad_alloc&) {
    // Input larger than memory (an endless body or stream of parameters) costs its own connection,
    // not the service.
    LOG(Error, "Request %u: no memory for its input; the connection is dropped.", id);
    dropInput();
    return false;
  }
}

void Request::dropInput() {
  params.clear();
  paramOrder.clear();
  paramsMatched = 0;
  std::string().swap(postData);
  phase = Phase::Idle;
  ::shutdown(fd, SHUT_RDWR);
}

bool Request::dispatchRecord(const unsigned char* record) {
  unsigned char type = record[1];
  unsigned int recordId = (record[2] << 8) | record[3];
  unsigned int length = contentLength(record);
  LOG(DebugAll, "REQUEST     rx(%i, %i, %i)", recordId, type, length);
  if (type > kGetValuesResult) return false;
  auto* body = const_cast<unsigned char*>(record + kHeaderSize);
  switch (type) {
    case kBeginRequest:
      // A shorter body has no flags byte; what follows it belongs to the next record.
      if (length < kBeginBodySize) return false;
      begin(static_cast<unsigned short>(recordId), (body[2] & 1) != 0);
      break;
    case kParams:
      if (phase != Phase::Reading) return false;
      if (length > 0)
        addParams(body, static_cast<int>(length));
      else
        finishParams();
      break;
    case kStdin:
      if (phase != Phase::Reading) return false;
      finishParams();
      if (length > 0) {
        if (postData.empty()) reserveForBody();
        appendPostData(body, static_cast<int>(length));
      } else {
        phase = Phase::Serving;
        if (fcgi != nullptr) fcgi->addRequest(this);
      }
      break;
    default:
      break;
  }
  return true;
}

void Request::begin(unsigned short newRequestId, bool newKeepConn) {
  // The previous request's parameters stay until this one's are complete (finishParams).
  paramsMatched = 0;
  paramsInOrder = true;
  empty(out);
  out.clear();
  empty(err);
  err.clear();
  postData.clear();
  // A mark left by the previous request on this connection must not make the new one look waiting.
  userData.reset();
  headerWritten = false;
  keepConn = newKeepConn;
  requestId = newRequestId;
  phase = Phase::Reading;
  LOG(DebugMost, "REQUEST  begin(%i, %i, %s)", fd, requestId, keepConn ? "true" : "false");
}

void Request::addParams(unsigned char* data, int length) {
  while (length > 0) {
    int nameLength = getLength(data, length);
    if (nameLength < 0) return;
    int valueLength = getLength(data, length);
    if (valueLength < 0) return;
    // Compared one at a time: two 31-bit lengths may not be added without overflow.
    if (nameLength > length || valueLength > length - nameLength) return;
    if (nameLength == 0 && valueLength == 0) return;
    const std::string_view name(reinterpret_cast<char*>(data), static_cast<size_t>(nameLength));
    data += nameLength;
    const std::string_view value(reinterpret_cast<char*>(data), static_cast<size_t>(valueLength));
    data += valueLength;
    length -= nameLength + valueLength;
    setParam(name, value);
  }
}

void Request::setParam(std::string_view name, std::string_view value) {
  if (paramsInOrder && paramsMatched < paramOrder.size() && paramOrder[paramsMatched]->first == name) {
    paramOrder[paramsMatched++]->second.assign(value);
    return;
  }
  if (paramsInOrder) {
    keepOnlyMatchedParams();
    paramsInOrder = false;
  }
  // From here on params holds only this request's entries: a name found again is a repeat, the last wins.
  auto [entry, inserted] = params.insert_or_assign(std::string(name), std::string(value));
  if (inserted) {
    paramOrder.push_back(entry);
    ++paramsMatched;
  }
}

void Request::finishParams() {
  if (!paramsInOrder) return;
  keepOnlyMatchedParams();
  paramsInOrder = false;
}

void Request::keepOnlyMatchedParams() {
  for (size_t i = paramsMatched; i < paramOrder.size(); ++i) params.erase(paramOrder[i]);
  paramOrder.resize(paramsMatched);
  if (params.size() == paramOrder.size()) return;
  // Entries that a handler added to the previous request's parameters.
  for (auto entry = params.begin(); entry != params.end();) {
    if (std::find(paramOrder.begin(), paramOrder.end(), entry) == paramOrder.end())
      entry = params.erase(entry);
    else
      ++entry;
  }
}

void Request::addParam(const std::string& name, const std::string& value) { params[name] = value; }

const std::string& Request::param(const char* name) const {
  static const std::string kAbsent;
  auto found = params.find(name);
  return found == params.end() ? kAbsent : found->second;
}

int Request::getLength(unsigned char*& data, int& remaining) {
  if (remaining < 1) return -1;
  unsigned int first = *data++;
  --remaining;
  if (first < 128) return static_cast<int>(first);
  if (remaining < 3) {
    remaining = 0;
    return -1;
  }
  unsigned int length = ((first & 0x7Fu) << 24) | (static_cast<unsigned int>(data[0]) << 16) |
                        (static_cast<unsigned int>(data[1]) << 8) | data[2];
  data += 3;
  remaining -= 3;
  return static_cast<int>(length);
}

void Request::reserveForBody() {
  auto announced = params.find("CONTENT_LENGTH");
  if (announced == params.end()) return;
  const char* text = announced->second.c_str();
  char* end = nullptr;
  errno = 0;
  unsigned long long length = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0) return;
  try {
    postData.reserve(static_cast<size_t>(std::min<unsigned long long>(length, kMaxBodyReserve)));
  } catch (const std::exception&) {
    // Without the reservation the body still arrives, only with more copying on the way.
  }
}

void Request::appendPostData(unsigned char* data, int length) {
  if (length > 0) postData.append(reinterpret_cast<char*>(data), static_cast<size_t>(length));
}

uint16_t Request::fcgiRequestId() const { return requestId; }

std::stringstream& Request::output() {
  if (!headerWritten) {
    out << "Content-type: application/json\r\n\r\n";
    headerWritten = true;
  }
  // Pushed at once: the web server forwards the first part while the rest is written. (Asking
  // the kernel to hold partial segments until the end made a 1 MiB answer a third slower.)
  if (out.view().size() > kFlushThreshold) sendStream(out, kStdout);
  return out;
}

void Request::writeHeader(const char* head) {
  headerWritten = true;
  if (head == nullptr) {
    out.setstate(std::ios::badbit);
    return;
  }
  out << head;
}

void Request::sendOutput() { sendStream(out, kStdout); }

void Request::sendError() {
  if (!err.view().empty()) sendStream(err, kStderr);
}

void Request::sendStream(std::stringstream& stream, unsigned char type) {
  if (fcgi == nullptr) throw std::runtime_error("Request has no Fcgi.");
  recordType = type;
  std::string_view text = stream.view();
  sendRecord(text.data(), text.size());
  empty(stream);
}

void Request::end() {
  if (fcgi == nullptr) throw std::runtime_error("Request has no Fcgi.");
  if (fd < 0) {
    errno = EBADF;
    THROW_ERROR_NUMBER("Request is already closed.");
  }
  // The answer's last output and the end record leave in one write.
  Gather gather;
  std::string_view output = out.view();
  std::string_view errors = err.view();
  recordType = kEndRequest;
  if (queueRecord(gather, kStdout, output.data(), output.size()) &&
      queueRecord(gather, kStderr, errors.data(), errors.size()) &&
      queueRecord(gather, kEndRequest, reinterpret_cast<const char*>(kZeros), sizeof kZeros))
    flush(gather);
  empty(out);
  empty(err);
  phase = Phase::Idle;
  LOG(DebugMost, "REQUEST    end(%i, %i)", id, requestId);
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

int Request::writeRecord(const char* data, unsigned int length) { return sendRecord(data, length); }

int Request::sendRecord(const char* data, size_t length) {
  if (fd < 0) {
    errno = EBADF;
    THROW_ERROR_NUMBER("Request is already closed.");
  }
  Gather gather;
  return queueRecord(gather, recordType, data, length) && flush(gather) ? 0 : -1;
}

// Appends the record in chunks of at most kMaxContent bytes, the last one padded to a multiple
// of 8; an empty record is never sent. Writes out earlier records when the gather is full.
bool Request::queueRecord(Gather& gather, unsigned char type, const char* data, size_t length) {
  size_t padding = (8 - length % 8) % 8;
  while (length > 0) {
    if (gather.records == Gather::kMaxRecords && !flush(gather)) return false;
    size_t chunk = std::min<size_t>(length, kMaxContent);
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

bool Request::flush(Gather& gather) {
  bool sent = gather.count == 0 || sendAll(gather.parts, gather.count);
  gather.records = 0;
  gather.count = 0;
  return sent;
}

// Writes what the socket takes now and keeps the rest, behind any output already waiting, to send
// as the peer reads. Whole records are committed, so the peer never sees one cut short.
bool Request::sendAll(iovec* parts, int count) {
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

bool Request::keepUnsent(const iovec* parts, int count) {
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

void Request::sendUnsent() {
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

void Request::abandonOutput() {
  ::shutdown(fd, SHUT_RDWR);
  unsent.clear();
  unsent.shrink_to_fit();
  unsentFrom = 0;
  closeWhenSent = false;
}

bool Request::outputStalled(std::chrono::steady_clock::time_point now) const {
  return unsentBytes() > 0 && now - lastProgress > kOutputStall;
}

int Request::close() {
  ::shutdown(fd, SHUT_RDWR);
  int result = ::close(fd);
  fd = -1;
  partial.clear();
  unsent.clear();
  unsentFrom = 0;
  return result;
}
