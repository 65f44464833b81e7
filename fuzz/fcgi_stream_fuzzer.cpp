// One connection's byte stream into the real listener, sent in pieces of arbitrary sizes: records,
// name-value pairs, lengths that lie, several requests on a kept connection, a peer that leaves early.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

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
    request->writeHeader("Content-type: text/plain\r\n\r\n");
    const auto* sink = dynamic_cast<CountingSink*>(request->bodySink());
    request->output() << request->params.size() << ' ' << (sink != nullptr ? sink->bytes : request->postData.size());
    request->end();
  }
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
