#include "tools/fcgi-client/fcgiclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace fcgiclient {
namespace {
constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxContent = 65535;
// A pumped responder answers between polls, so the client polls in short slices.
constexpr int kPumpSliceMs = 1;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Splits a stream into records of at most kMaxContent bytes and its terminating empty record.
std::string encodeStream(uint8_t type, uint16_t requestId, const std::string& data) {
  std::string stream;
  for (size_t at = 0; at < data.size(); at += kMaxContent)
    stream += encodeRecord(type, requestId, data.substr(at, kMaxContent));
  return stream + encodeRecord(type, requestId, "");
}
}  // namespace

int connectTcp(const std::string& host, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

std::string encodeRecord(uint8_t type, uint16_t requestId, const std::string& content, uint8_t paddingLength,
                         uint8_t version) {
  std::string record(kHeaderSize, '\0');
  record[0] = static_cast<char>(version);
  record[1] = static_cast<char>(type);
  record[2] = static_cast<char>(requestId >> 8);
  record[3] = static_cast<char>(requestId & 0xFF);
  record[4] = static_cast<char>((content.size() >> 8) & 0xFF);
  record[5] = static_cast<char>(content.size() & 0xFF);
  record[6] = static_cast<char>(paddingLength);
  record += content;
  record.append(paddingLength, '\0');
  return record;
}

std::string encodeLength(uint32_t length, bool forceLong) {
  if (length < 128 && !forceLong) return std::string(1, static_cast<char>(length));
  std::string bytes(4, '\0');
  bytes[0] = static_cast<char>(((length >> 24) & 0x7F) | 0x80);
  bytes[1] = static_cast<char>((length >> 16) & 0xFF);
  bytes[2] = static_cast<char>((length >> 8) & 0xFF);
  bytes[3] = static_cast<char>(length & 0xFF);
  return bytes;
}

std::string encodeNameValue(const std::string& name, const std::string& value, bool forceLong) {
  return encodeLength(static_cast<uint32_t>(name.size()), forceLong) +
         encodeLength(static_cast<uint32_t>(value.size()), forceLong) + name + value;
}

std::string encodeRequest(const Params& params, const std::string& body, bool keepConn, uint16_t requestId) {
  std::string begin(8, '\0');
  begin[1] = 1;  // responder
  begin[2] = keepConn ? 1 : 0;
  std::string pairs;
  for (const auto& [name, value] : params) pairs += encodeNameValue(name, value);
  return encodeRecord(kBeginRequest, requestId, begin) + encodeStream(kParams, requestId, pairs) +
         encodeStream(kStdin, requestId, body);
}

FcgiClient::FcgiClient(int fd, std::function<void()> pump) : socket(fd), pump(std::move(pump)) {}

FcgiClient::~FcgiClient() {
  if (socket >= 0) ::close(socket);
}

Reply FcgiClient::request(const Params& params, const std::string& body, bool keepConn, uint16_t requestId,
                          size_t splitEvery, int timeoutMs) {
  Reply reply;
  if (!sendRaw(encodeRequest(params, body, keepConn, requestId), splitEvery)) {
    reply.timedOut = true;
    return reply;
  }
  reply = readReply(timeoutMs);
  if (reply.ended && !keepConn && !closedByPeer(timeoutMs)) reply.timedOut = true;
  return reply;
}

bool FcgiClient::sendRaw(const std::string& bytes, size_t splitEvery) {
  size_t piece = splitEvery > 0 ? splitEvery : bytes.size();
  for (size_t at = 0; at < bytes.size();) {
    size_t end = std::min(bytes.size(), at + piece);
    while (at < end) {
      ssize_t sent = ::send(socket, bytes.data() + at, end - at, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && pump) {
        pump();
        continue;
      }
      if (sent <= 0) return false;
      at += static_cast<size_t>(sent);
    }
    if (pump) pump();
  }
  return true;
}

bool FcgiClient::fill(int timeoutMs) {
  if (atEnd) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd readable{socket, POLLIN, 0};
    int ready = ::poll(&readable, 1, pump ? 0 : remainingMs(deadline));
    if (ready > 0) {
      char buffer[65536];
      ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got > 0) {
        received.append(buffer, static_cast<size_t>(got));
        return true;
      }
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      atEnd = true;
      return false;
    }
    if (ready < 0 && errno != EINTR) return false;
    if (remainingMs(deadline) == 0) return false;
    if (pump) {
      pump();
      ::poll(nullptr, 0, kPumpSliceMs);
    }
  }
}

std::optional<Record> FcgiClient::readRecord(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (received.size() >= kHeaderSize) {
      auto byte = [&](size_t at) { return static_cast<uint8_t>(received[at]); };
      size_t contentLength = (byte(4) << 8) | byte(5);
      size_t whole = kHeaderSize + contentLength + byte(6);
      if (received.size() >= whole) {
        Record record;
        record.version = byte(0);
        record.type = byte(1);
        record.requestId = static_cast<uint16_t>((byte(2) << 8) | byte(3));
        record.paddingLength = byte(6);
        record.reserved = byte(7);
        record.content = received.substr(kHeaderSize, contentLength);
        record.padding = received.substr(kHeaderSize + contentLength, record.paddingLength);
        received.erase(0, whole);
        return record;
      }
    }
    if (!fill(remainingMs(deadline))) return std::nullopt;
  }
}

Reply FcgiClient::readReply(int timeoutMs) {
  Reply reply;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!reply.ended) {
    auto record = readRecord(remainingMs(deadline));
    if (!record) {
      reply.timedOut = !atEnd;
      break;
    }
    if (record->type == kStdout) reply.stdoutText += record->content;
    if (record->type == kStderr) reply.stderrText += record->content;
    if (record->type == kEndRequest && record->content.size() >= 5) {
      const auto* body = reinterpret_cast<const uint8_t*>(record->content.data());
      reply.appStatus = (uint32_t{body[0]} << 24) | (uint32_t{body[1]} << 16) | (uint32_t{body[2]} << 8) | body[3];
      reply.protocolStatus = body[4];
      reply.ended = true;
    }
    reply.records.push_back(std::move(*record));
  }
  return reply;
}

bool FcgiClient::closedByPeer(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!atEnd && remainingMs(deadline) > 0) fill(remainingMs(deadline));
  return atEnd;
}

}  // namespace fcgiclient
