#pragma once
// A FastCGI client for tests: sends a request as one stream or in pieces of any size, sends
// hand-made (also malformed) records, and reads back every record the responder sends.
//
//   int fd = fcgiclient::connectTcp("127.0.0.1", 9000);
//   fcgiclient::FcgiClient client(fd);                     // owns fd from now on
//   auto reply = client.request({{"SCRIPT_NAME", "/api/v1/all.cgi"}}, "", /*keepConn*/ true);
//   reply.stdoutText;        // the concatenated STDOUT content
//   reply.records;           // every record received, in order, as parsed
//   reply.ended;             // an END_REQUEST arrived (appStatus, protocolStatus hold its body)
//
// A responder run in the same thread as the test is driven through the pump: the client calls it
// whenever it waits for the peer (after each piece sent, and while no reply byte is readable).
//
// Malformed input: build bytes with encodeRecord / encodeNameValue (lengths are taken as given)
// and send them with sendRaw; read with readRecord / readReply; closedByPeer tells whether the
// responder has closed the connection.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "apps/web/service/fcgirecord.h"

namespace fcgiclient {

using enum FcgiRecordType;

struct Record {
  uint8_t version = 0;
  uint8_t type = 0;
  uint16_t requestId = 0;
  std::string content;
  uint8_t paddingLength = 0;
  uint8_t reserved = 0;
  std::string padding;  // the padding bytes as received
};

struct Reply {
  std::vector<Record> records;
  std::string stdoutText;
  std::string stderrText;
  bool ended = false;  // an END_REQUEST record arrived
  uint32_t appStatus = 0;
  uint8_t protocolStatus = 0;
  bool timedOut = false;  // neither an END_REQUEST nor the connection's end came in time
};

using Params = std::map<std::string, std::string>;

// Connects to host:port over TCP (IPv4); returns the descriptor, or -1 with errno set.
int connectTcp(const std::string& host, uint16_t port);

// One record exactly as given: content lengths above 65535 are cut to their low 16 bits in the
// header while all of content is still sent, so a test can lie about lengths.
std::string encodeRecord(uint8_t type, uint16_t requestId, const std::string& content, uint8_t paddingLength = 0,
                         uint8_t version = 1);
// One name-value pair; lengths below 128 take one byte unless forceLong is set.
std::string encodeNameValue(const std::string& name, const std::string& value, bool forceLong = false);
// The length field alone, for hand-made pairs whose lengths disagree with their bytes.
std::string encodeLength(uint32_t length, bool forceLong = false);
// BEGIN_REQUEST (responder role), PARAMS records and the empty one, STDIN records and the empty one.
std::string encodeRequest(const Params& params, const std::string& body, bool keepConn, uint16_t requestId);

class FcgiClient {
 public:
  explicit FcgiClient(int fd, std::function<void()> pump = {});
  ~FcgiClient();
  FcgiClient(const FcgiClient&) = delete;
  FcgiClient& operator=(const FcgiClient&) = delete;

  // Sends the whole request (in pieces of splitEvery bytes when it is above 0) and reads the reply
  // up to END_REQUEST. Without keepConn it then also waits for the responder to close.
  Reply request(const Params& params, const std::string& body, bool keepConn = false, uint16_t requestId = 1,
                size_t splitEvery = 0, int timeoutMs = 5000);

  // Sends bytes, in pieces of splitEvery bytes when it is above 0, pumping after each piece.
  // Returns false when the peer no longer takes them.
  bool sendRaw(const std::string& bytes, size_t splitEvery = 0);
  // The next record, or nothing at the connection's end or when timeoutMs passed.
  std::optional<Record> readRecord(int timeoutMs = 5000);
  // Records up to and including END_REQUEST.
  Reply readReply(int timeoutMs = 5000);
  // True once the responder has closed the connection (read returns 0 or a reset), within timeoutMs.
  // Bytes that arrive meanwhile are kept for readRecord.
  bool closedByPeer(int timeoutMs = 2000);
  // Bytes received but not yet taken as records.
  size_t pendingBytes() const { return received.size(); }

  int fd() const { return socket; }

 private:
  bool fill(int timeoutMs);  // reads what comes within timeoutMs; false at the end or on timeout

  int socket;
  std::function<void()> pump;
  std::string received;
  bool atEnd = false;
};

}  // namespace fcgiclient
