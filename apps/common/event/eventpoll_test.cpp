#include "apps/common/event/eventpoll.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/unit/child_process.h"
#include "tests/unit/error_text.h"
#include "tests/unit/kernel_log_capture.h"

// Tests that raise signals run in a child: the terminate flag, once set, stays set for the whole process.
using testsupport::kernelLogSince;
using testsupport::kernelLogText;
using testsupport::passesInChild;

namespace {
using Event = EventPoll::Callback;
using Calls = std::vector<Event::EventType>;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    for (int fd : {read, write})
      if (fd >= 0) ::close(fd);
  }
  void fill() { EXPECT_EQ(::write(write, "x", 1), 1); }
};

// Records what it was called with; optionally drains its pipe so it stops being ready, or throws.
struct Recorder final : EventPoll::Callback {
  Calls calls;
  Pipe* drainOnCall = nullptr;
  bool throws = false;
  void event(EventType type) override {
    calls.push_back(type);
    char buffer[64];
    if (drainOnCall && ::read(drainOnCall->read, buffer, sizeof buffer) <= 0) ADD_FAILURE() << "nothing to drain";
    if (throws) throw std::runtime_error("from callback");
  }
};

int countTimers() {
  std::ifstream timers("/proc/self/timers");
  int count = 0;
  for (std::string line; std::getline(timers, line);) count += line.rfind("ID:", 0) == 0;
  return count;
}

using testsupport::errorOf;

}  // namespace

TEST(EventPoll, LevelTriggeredReadableWritableOnlyWhenAskedForAndHangUpThenPriorityWinOverReadable) {
  EventPoll poll;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  Recorder recorder;
  poll.add(pair[0], &recorder, EPOLLIN);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Timeout);  // writable, but not asked for
  poll.modify(pair[0], &recorder, EPOLLOUT);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Dispatched);
  EXPECT_EQ(recorder.calls, Calls{Event::Writable});
  poll.modify(pair[0], &recorder, EPOLLIN | EPOLLOUT);
  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Dispatched);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Dispatched);  // still readable: reported again
  EXPECT_EQ(recorder.calls, (Calls{Event::Writable, Event::Readable, Event::Readable}));
  ::close(pair[1]);  // still readable, and hung up
  EXPECT_EQ(poll.wait(0, true), EventPoll::Dispatched);
  EXPECT_EQ(recorder.calls.back(), Event::HangUp);
  poll.remove(pair[0]);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Timeout);
  ::close(pair[0]);

  // Urgent TCP data raises EPOLLPRI together with EPOLLIN.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::listen(listener, 1), 0);  // on a free port
  sockaddr_in address = {};
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  int server = ::accept(listener, nullptr, nullptr);
  ASSERT_EQ(::send(client, "u", 1, MSG_OOB), 1);
  Recorder urgent;
  poll.add(server, &urgent, EPOLLIN | EPOLLPRI);
  EXPECT_EQ(poll.wait(1000, true), EventPoll::Dispatched);
  EXPECT_EQ(urgent.calls, Calls{Event::Priority});
  poll.close();
  EXPECT_THROW(poll.modify(server, &urgent, EPOLLIN), std::runtime_error);
  ::close(server);
  ::close(client);
  ::close(listener);
}

TEST(EventPoll, DispatchesAtMostEightPerWaitReportsFailedRegistrationsAndStopsTheBatchOnAnException) {
  EventPoll poll;
  std::vector<Pipe> pipes(10);
  std::vector<Recorder> recorders(10);
  for (size_t i = 0; i < pipes.size(); ++i) {
    recorders[i].drainOnCall = &pipes[i];
    poll.add(pipes[i].read, &recorders[i], EPOLLIN);
    pipes[i].fill();
  }
  EXPECT_EQ(poll.wait(1000, true), EventPoll::Dispatched);
  EXPECT_EQ(std::ranges::count_if(recorders, [](auto& r) { return !r.calls.empty(); }), 8);
  EXPECT_EQ(poll.wait(1000, true), EventPoll::Dispatched);
  for (auto& recorder : recorders) EXPECT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(poll.wait(0, true), EventPoll::Timeout);

  // Null callbacks and failed registrations are reported; a callback's exception stops the batch.
  Pipe orphan;
  size_t start = kernelLogText().size();
  poll.add(orphan.read, nullptr, EPOLLIN);
  orphan.fill();
  EXPECT_EQ(poll.wait(1000, true), EventPoll::Dispatched);
  EXPECT_NE(kernelLogSince(start).find("Unhandled event: 00000001\n"), std::string::npos);
  poll.remove(orphan.read);

  Pipe first, second;
  Recorder one, other;
  one.throws = other.throws = true;
  poll.add(first.read, &one, EPOLLIN);
  poll.add(second.read, &other, EPOLLIN);
  first.fill();
  second.fill();
  EXPECT_THROW(poll.wait(1000, true), std::runtime_error);
  EXPECT_EQ(one.calls.size() + other.calls.size(), 1u);

  auto failsWith = [](auto call, const char* text) { return errorOf(call).find(text) != std::string::npos; };
  EXPECT_TRUE(failsWith([&] { poll.add(first.read, &one, EPOLLIN); }, " epoll_ctl: File exists"));
  EXPECT_TRUE(failsWith([&] { poll.remove(orphan.read); }, " epoll_ctl: No such file or directory"));
  EXPECT_EQ(poll.close(), 0);
  EXPECT_LT(poll.close(), 0);
  poll.remove(first.read);  // nothing to do once closed
  EXPECT_TRUE(failsWith([&] { poll.add(first.read, &one, EPOLLIN); }, " add called on an already closed handle"));
  EXPECT_TRUE(failsWith([&] { poll.wait(0, true); }, " wait called on an already closed handle"));
}

TEST(EventPoll, PeriodicTimerIsOneTimerAndTheTerminateSignalInterruptsThenEndsTheLoop) {
  EXPECT_TRUE(passesInChild([] {
    {
      EventPoll poll;
      int before = countTimers();
      poll.setTimer(20);
      poll.setTimer(30);  // re-arms the same timer
      EXPECT_EQ(countTimers(), before + 1);
      EXPECT_EQ(poll.wait(2000, false), EventPoll::Timer);
      EXPECT_EQ(poll.wait(2000, false), EventPoll::Timer);  // periodic
      poll.setTimer(0);                                     // disarmed but kept
      EXPECT_EQ(countTimers(), before + 1);
      EXPECT_EQ(poll.wait(100, false), EventPoll::Timeout);
      poll.setTimer(-1);
      EXPECT_EQ(countTimers(), before);
      poll.setTimer(20);
      EXPECT_EQ(countTimers(), before + 1);
    }
    EXPECT_EQ(countTimers(), 0);  // deleted with its poll

    EventPoll poll;
    EXPECT_FALSE(EventPoll::shouldTerminate());
    size_t start = kernelLogText().size();
    std::thread([target = ::pthread_self()] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ::pthread_kill(target, SIGTERM);
    }).detach();
    EXPECT_EQ(poll.wait(5000, false), EventPoll::Interrupted);
    EXPECT_EQ(kernelLogSince(start).find("SIG"), std::string::npos);  // reported by the next wait
    EXPECT_EQ(poll.wait(5000, false), EventPoll::Terminate);
    EXPECT_TRUE(EventPoll::shouldTerminate());
    std::string log = kernelLogSince(start);
    EXPECT_NE(log.find(" SIG 15: Terminated\n"), std::string::npos);

    // The flag stays: every later wait ends at once, but the loop may still ask for dispatching.
    EXPECT_EQ(poll.wait(5000, false), EventPoll::Terminate);
    Pipe pipe;
    Recorder recorder;
    poll.add(pipe.read, &recorder, EPOLLIN);
    pipe.fill();
    EXPECT_EQ(poll.wait(1000, true), EventPoll::Dispatched);
    EXPECT_EQ(recorder.calls.size(), 1u);
    log = kernelLogSince(start);
    EXPECT_EQ(log.find("SIG 15"), log.rfind("SIG 15"));  // reported once
  }));
}

TEST(EventPoll, ConstructionIgnoresSigpipeAndReportsAFailedEpollCreate) {
  EXPECT_TRUE(passesInChild([] {
    EventPoll poll;
    Pipe pipe;
    ::close(std::exchange(pipe.read, -1));
    EXPECT_EQ(::write(pipe.write, "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    size_t start = kernelLogText().size();
    rlimit limit = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t usual = std::exchange(limit.rlim_cur, 3);  // only the standard streams
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::exception_ptr failure;
    try {
      EventPoll another;
    } catch (...) {
      failure = std::current_exception();
    }
    // Restored before the exception is looked at: the sanitizers' type checks need descriptors too.
    limit.rlim_cur = usual;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(errorOf([&] {
                if (failure) std::rethrow_exception(failure);
              }),
              "epoll_create: Too many open files");
    EXPECT_EQ(kernelLogSince(start), "");

    // Signals pending together are reported in ascending order.
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(poll.wait(0, false), EventPoll::Terminate);
    std::string log = kernelLogSince(start);
    EXPECT_NE(log.find(" SIG 15: Terminated\n"), std::string::npos);
    EXPECT_LT(log.find(" SIG 2: Interrupt\n"), log.find(" SIG 15: Terminated\n"));
  }));
}
