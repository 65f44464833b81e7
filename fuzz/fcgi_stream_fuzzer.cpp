// One connection's byte stream into the real listener, sent in pieces of arbitrary sizes: records,
// name-value pairs, lengths that lie, several requests on a kept connection, a peer that leaves early.
// First, a well-formed request whose parameter stream is cut into records at drawn points must reach
// the handler with exactly its parameters.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "fuzz/quiet_kernel_log.h"
#include "tools/fcgi-client/fcgiclient.h"

namespace {
// Takes a body in pieces up to a bound, as an upload route does.
struct CountingSink : BodySink {
  size_t bytes = 0;
  bool take(std::string_view piece) override {
    bytes += piece.size();
    return bytes < 100000;
  }
};

// Streams the body of every request with an odd number of parameters to a sink; answers every whole
// request at once with what it received, so the answer path runs as well.
struct EchoHandler : Fcgi::RequestCallback {
  void handleParams(Request* request) override {
    if (request->params.size() % 2 == 1) request->streamBodyTo(std::make_unique<CountingSink>());
  }
  void handleRequest(Request* request) override {
    if (expected != nullptr) {
      if (request->params != *expected) std::abort();
      expected = nullptr;
    }
    request->writeHeader("Content-type: text/plain\r\n\r\n");
    const auto* sink = dynamic_cast<CountingSink*>(request->bodySink());
    request->output() << request->params.size() << ' ' << (sink != nullptr ? sink->bytes : request->postData.size());
    request->end();
  }
  const std::map<std::string, std::string>* expected = nullptr;
};

EventPoll* poll;
Fcgi* listener;
EchoHandler handler;

void turn() {
  poll->wait(0, true);
  listener->cleanup();
}

// Takes what the service sent, so that it never waits for us to read.
void drain(int fd) {
  char buffer[65536];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

// Parameters drawn from the input, their stream cut into PARAMS records of drawn sizes.
void sendCutParameters(FuzzedDataProvider& input, fcgiclient::FcgiClient& client) {
  std::map<std::string, std::string> params;
  std::string stream;
  for (int pairs = input.ConsumeIntegralInRange(0, 6); pairs > 0; --pairs) {
    // A name is never empty: a pair with both lengths 0 ends its record by design.
    std::string name = "n" + input.ConsumeRandomLengthString(300);
    std::string value = input.ConsumeRandomLengthString(input.ConsumeBool() ? 200000 : 300);
    stream += fcgiclient::encodeNameValue(name, value);
    params[name] = value;
  }
  std::string records = fcgiclient::encodeRecord(fcgiclient::kBeginRequest, 1, std::string("\0\1\1\0\0\0\0\0", 8));
  for (size_t at = 0; at < stream.size();) {
    size_t cut = input.ConsumeIntegralInRange<size_t>(1, 65535);
    records += fcgiclient::encodeRecord(fcgiclient::kParams, 1, stream.substr(at, cut));
    at += cut;
  }
  records += fcgiclient::encodeRecord(fcgiclient::kParams, 1, "") + fcgiclient::encodeRecord(fcgiclient::kStdin, 1, "");
  handler.expected = &params;
  // The handler aborts on a mismatch; one that never sees the request is a failure as well.
  if (!client.sendRaw(records) || !client.readReply(5000).ended || handler.expected != nullptr) std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  poll = new EventPoll;
  listener = new Fcgi(0, *poll);
  listener->requestCallback = &handler;
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = -1;
  // A listener that takes no new connection for a second has stopped serving.
  for (int attempt = 0; (fd = fcgiclient::connectTcp("127.0.0.1", uint16_t(listener->port()))) < 0; ++attempt) {
    if (attempt == 100) std::abort();
    turn();
    ::usleep(10000);
  }
  turn();
  FuzzedDataProvider input(data, size);
  {
    fcgiclient::FcgiClient client(::dup(fd), turn);
    sendCutParameters(input, client);
  }
  while (input.remaining_bytes() > 0) {
    size_t piece = input.ConsumeIntegralInRange<size_t>(1, 4096);
    std::string bytes = input.ConsumeBytesAsString(piece);
    if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) break;
    turn();
    drain(fd);
  }
  // The peer leaves: half-closed first, then gone.
  ::shutdown(fd, SHUT_WR);
  turn();
  drain(fd);
  // An abortive close leaves no TIME_WAIT behind on either end, so a long run never runs out of ports.
  const linger off{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  ::close(fd);
  for (int i = 0; i < 3; ++i) turn();
  if (!listener->requests().empty()) std::abort();
  return 0;
}
