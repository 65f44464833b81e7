#include "apps/web/service/request.h"

#include <algorithm>
#include <stdexcept>

#include "apps/web/service/connection.h"

namespace {
// Empties a stream but keeps a modest capacity, so the next answer on the connection does not grow
// it from nothing; a large one is released.
void empty(std::stringstream& stream) {
  // Already empty, and its capacity already bounded when it was emptied.
  if (stream.view().empty()) return;
  constexpr size_t kKeptCapacity = 64 * 1024;
  std::string buffer = std::move(stream).str();
  buffer.clear();
  if (buffer.capacity() > kKeptCapacity) buffer.shrink_to_fit();
  stream.str(std::move(buffer));
}

Connection& requireConnection(Connection* connection) {
  if (connection == nullptr) throw std::runtime_error("Request has no Fcgi.");
  return *connection;
}
}  // namespace

Request::Request(Connection* connection, unsigned int id) : id(id), connection(connection) {}

bool Request::isOpen() const { return connection != nullptr && connection->isOpen(); }

size_t Request::unsentBytes() const { return connection == nullptr ? 0 : connection->unsentBytes(); }

std::stringstream& Request::output() {
  if (!headerWritten) {
    out << "Content-type: application/json\r\n\r\n";
    headerWritten = true;
  }
  // Pushed at once: the web server forwards the first part while the rest is written. (Asking
  // the kernel to hold partial segments until the end made a 1 MiB answer a third slower.)
  if (out.view().size() > kFlushThreshold) sendOutput();
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

void Request::sendOutput() {
  requireConnection(connection).sendStdout(out.view());
  empty(out);
}

void Request::sendError() {
  if (err.view().empty()) return;
  requireConnection(connection).sendStderr(err.view());
  empty(err);
}

void Request::sendFrom(std::unique_ptr<BodySource> bodySource) { source = std::move(bodySource); }

void Request::end() {
  Connection& carrier = requireConnection(connection);
  if (source != nullptr) {
    // The rest follows from the source as the peer takes it; the connection ends the request then.
    sendOutput();
    carrier.streamThenEnd();
    return;
  }
  carrier.endRequest(out.view(), err.view());
}

void Request::endAndClose() {
  requireConnection(connection).closeAfterAnswer();
  end();
}

void Request::resetOutput() {
  empty(out);
  out.clear();
  empty(err);
  err.clear();
}

void Request::begin(uint16_t newRequestId) {
  paramsMatched = 0;
  paramsInOrder = true;
  resetOutput();
  dropBody();
  // A mark left by the previous request on this connection must not make the new one look waiting.
  waits = Waits::Nothing;
  since.reset();
  headerWritten = false;
  requestId = newRequestId;
}

void Request::streamBodyTo(std::unique_ptr<BodySink> bodySink) {
  sink = std::move(bodySink);
  sinkRefused = false;
}

void Request::receiveBody(std::string_view piece) {
  if (sink != nullptr) {
    if (!sinkRefused && !sink->take(piece)) sinkRefused = true;
    return;
  }
  if (bodyTooLarge || postData.size() + piece.size() > kMaxHeldBody) {
    bodyTooLarge = true;
    std::string().swap(postData);
    return;
  }
  postData.append(piece);
}

void Request::dropBody() {
  sink.reset();
  source.reset();
  sinkRefused = false;
  bodyTooLarge = false;
  // A large body is released; a small one keeps its capacity for the next request.
  if (postData.capacity() > kFlushThreshold)
    std::string().swap(postData);
  else
    postData.clear();
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
