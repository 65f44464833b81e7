#pragma once
// A listener on a free loopback port, driven in the test's own thread, with a handler the test sets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

#include "apps/common/event/eventpoll.h"
#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "tools/fcgi-client/fcgiclient.h"

class FcgiFixture : public ::testing::Test {
 public:
  struct Handler : Fcgi::RequestCallback {
    std::function<void(Request*)> onParams;
    std::function<void(Request*)> onRequest;
    std::vector<Request*> seen;
    void handleParams(Request* request) override {
      if (onParams) onParams(request);
    }
    void handleRequest(Request* request) override {
      seen.push_back(request);
      if (onRequest) onRequest(request);
    }
  };

 protected:
  void SetUp() override {
    gComponentLogLevel = &threshold;
    fcgi = std::make_unique<Fcgi>(0, poll);
    fcgi->requestCallback = &handler;
  }

  // One turn of the service's loop; cleanup may be left out to see requests that await deletion.
  void pump(int timeoutMs = 0) {
    poll.wait(timeoutMs, true);
    if (fcgi && cleanupEachTurn) fcgi->cleanup();
  }

  std::unique_ptr<fcgiclient::FcgiClient> connect() {
    int fd = fcgiclient::connectTcp("127.0.0.1", static_cast<uint16_t>(fcgi->port()));
    EXPECT_GE(fd, 0);
    return std::make_unique<fcgiclient::FcgiClient>(fd, [this] { pump(); });
  }

  // Turns of the loop that dispatched something: none once nothing is left to do.
  int dispatchedIn(int turns) {
    int dispatched = 0;
    for (int turn = 0; turn < turns; ++turn) dispatched += poll.wait(0, true) == EventPoll::Dispatched;
    return dispatched;
  }

  // Answers every request with `text` and ends it.
  void answerWith(const std::string& text) {
    handler.onRequest = [text](Request* request) {
      request->writeHeader("");
      request->output() << text;
      request->end();
    };
  }

  bool cleanupEachTurn = true;
  gen::LogLevel threshold = gen::Error;
  EventPoll poll;
  Handler handler;
  std::unique_ptr<Fcgi> fcgi;
};

// Leaves exactly `free` descriptors to the process while it lives. Send one request through the poll first
// (a connection's first is read at accept): the sanitizer needs a spare descriptor for its first type check.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int free) {
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit lowered{256, saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    for (int i = 0; i < free && !fillers.empty(); ++i) {
      ::close(fillers.back());
      fillers.pop_back();
    }
  }
  ~DescriptorLimit() {
    for (int fd : fillers) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
  }

 private:
  rlimit saved{};
  std::vector<int> fillers;
};
