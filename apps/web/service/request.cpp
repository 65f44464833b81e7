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
  std::string().swap(carriedPair);
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

namespace {
// The lengths that open a name-value pair, and how many bytes they take.
struct PairHead {
  uint32_t name = 0;
  uint32_t value = 0;
  size_t size = 0;
};
enum class HeadIs { Complete, Short, Malformed };

HeadIs decodeHead(const unsigned char* data, size_t size, PairHead& head) {
  size_t at = 0;
  for (uint32_t* length : {&head.name, &head.value}) {
    if (at >= size) return HeadIs::Short;
    if (data[at] < 128) {
      *length = data[at++];
      continue;
    }
    if (size - at < 4) return HeadIs::Short;
    *length = ((data[at] & 0x7Fu) << 24) | (static_cast<uint32_t>(data[at + 1]) << 16) |
              (static_cast<uint32_t>(data[at + 2]) << 8) | data[at + 3];
    at += 4;
  }
  head.size = at;
  // Added in 64 bits: two 31-bit lengths may not be added in a 32-bit size_t.
  const uint64_t pair = uint64_t{head.name} + head.value;
  if (pair == 0 || pair > Request::kMaxParamPair) return HeadIs::Malformed;
  return HeadIs::Complete;
}

size_t pairSize(const PairHead& head) { return head.size + head.name + head.value; }
}  // namespace

std::optional<size_t> Request::decodePairs(const unsigned char* data, size_t size, const PairTaker& take) {
  size_t used = 0;
  while (used < size) {
    PairHead head;
    HeadIs status = decodeHead(data + used, size - used, head);
    if (status == HeadIs::Malformed) return std::nullopt;
    if (status == HeadIs::Short || pairSize(head) > size - used) break;
    const auto* text = reinterpret_cast<const char*>(data + used + head.size);
    take({text, head.name}, {text + head.name, head.value});
    used += pairSize(head);
  }
  return used;
}

void Request::addParams(const unsigned char* data, int length) {
  size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  if (size > 0 && !carriedPair.empty()) {
    std::optional<size_t> taken = continueCarriedPair(data, size);
    if (!taken) return;
    data += *taken;
    size -= *taken;
  }
  std::optional<size_t> used =
      decodePairs(data, size, [this](std::string_view name, std::string_view value) { setParam(name, value); });
  if (used && *used < size) carriedPair.assign(reinterpret_cast<const char*>(data + *used), size - *used);
}

std::optional<size_t> Request::continueCarriedPair(const unsigned char* data, size_t size) {
  size_t taken = 0;
  PairHead head;
  HeadIs status;
  // The head is completed a byte at a time: it is at most 8 bytes long.
  while ((status = decodeHead(reinterpret_cast<const unsigned char*>(carriedPair.data()), carriedPair.size(), head)) ==
             HeadIs::Short &&
         taken < size)
    carriedPair += static_cast<char>(data[taken++]);
  if (status == HeadIs::Malformed) {
    std::string().swap(carriedPair);
    return std::nullopt;
  }
  if (status == HeadIs::Short) return taken;
  const size_t wanted = std::min(pairSize(head) - carriedPair.size(), size - taken);
  carriedPair.append(reinterpret_cast<const char*>(data + taken), wanted);
  taken += wanted;
  if (carriedPair.size() == pairSize(head)) {
    const std::string_view pair(carriedPair);
    setParam(pair.substr(head.size, head.name), pair.substr(head.size + head.name, head.value));
    std::string().swap(carriedPair);
  }
  return taken;
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
  // A pair the stream never completed is dropped.
  std::string().swap(carriedPair);
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
