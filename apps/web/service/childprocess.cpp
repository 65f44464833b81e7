#include "apps/web/service/childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "apps/common/log/log.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval{5};
constexpr std::chrono::seconds kStopGrace{1};
// A child collected elsewhere reads as killed, so that no caller takes its end for success.
constexpr int kUnknownStatus = SIGKILL;

// What posix_spawn does in the child before it executes the program. The caller's descriptors become
// 0, 1 and 2 from copies above 2, so that no source is overwritten by another's target; the copies are
// the caller's to close once the child runs.
class SpawnSetup {
 public:
  explicit SpawnSetup(const ChildProcess::Streams& streams) {
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    const int sources[] = {streams.input, streams.output, streams.error};
    for (int i = 0; i < 3; ++i) {
      if (sources[i] < 0) continue;
      moved[i].fd = ::fcntl(sources[i], F_DUPFD_CLOEXEC, 3);
      if (moved[i].fd < 0) THROW_ERROR_NUMBER("fcntl");
      ::posix_spawn_file_actions_adddup2(&actions, moved[i].fd, i);
    }
    // A group of its own, so that it can be ended with everything it starts; SIGPIPE as a program
    // expects it (the service ignores it), so that one writing to a closed pipe ends.
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;

 private:
  Descriptor moved[3];
};

}  // namespace

// Spawned rather than forked: the service's memory is not copied, not even its page tables, so that
// starting a child costs the loop the same whatever the service holds.
ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Streams& streams) {
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  SpawnSetup setup(streams);
  pid_t child = 0;
  const int error = ::posix_spawnp(&child, arguments[0], &setup.actions, &setup.attributes, arguments.data(), environ);
  if (error == 0) {
    pid = child;
    return;
  }
  if (error == EAGAIN || error == ENOMEM) {
    errno = error;
    THROW_ERROR_NUMBER("posix_spawn");
  }
  // The program could not be executed: a child that ends as a shell's would, with 127.
  child = ::fork();
  if (child < 0) THROW_ERROR_NUMBER("fork");
  if (child == 0) {
    ::setpgid(0, 0);
    ::_exit(127);
  }
  ::setpgid(child, child);
  pid = child;
}

ChildProcess::~ChildProcess() { stop(); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped(false) && std::chrono::steady_clock::now() < deadline)
    ::usleep(static_cast<useconds_t>(std::chrono::microseconds(kPollInterval).count()));
  return status;
}

void ChildProcess::stop() {
  if (status) return;
  ::kill(-pid, SIGTERM);
  if (wait(kStopGrace)) return;
  ::kill(-pid, SIGKILL);
  reaped(true);
}

bool ChildProcess::reaped(bool block) {
  while (!status) {
    int word = 0;
    pid_t ended = ::waitpid(pid, &word, block ? 0 : WNOHANG);
    if (ended == 0) return false;
    if (ended == pid) {
      status = word;
    } else if (errno != EINTR) {
      status = kUnknownStatus;
    }
  }
  return true;
}

ChildWatch::ChildWatch(EventPoll& poll) : poll(poll) {}

ChildWatch::~ChildWatch() {
  release();
  child.reset();
}

void ChildWatch::start(const std::vector<std::string>& argv, const ChildProcess::Streams& streams,
                       std::chrono::milliseconds bound, Ended whenEnded) {
  if (child) THROW_ERROR("A child still runs: %i", child->id());
  itimerspec expiry{};
  expiry.it_value.tv_sec = static_cast<time_t>(bound.count() / 1000);
  expiry.it_value.tv_nsec = static_cast<long>(bound.count() % 1000) * 1000000L;
  if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0) expiry.it_value.tv_nsec = 1;  // 0 would disarm
  Descriptor newTimer(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (newTimer.fd < 0) THROW_ERROR_NUMBER("timerfd_create");
  child.emplace(argv, streams);
  try {
    // Opened before the child is collected, so the number cannot name another process yet.
    Descriptor newExit(static_cast<int>(::syscall(SYS_pidfd_open, child->id(), 0)));
    if (newExit.fd < 0) THROW_ERROR_NUMBER("pidfd_open");
    if (::timerfd_settime(newTimer.fd, 0, &expiry, nullptr) != 0) THROW_ERROR_NUMBER("timerfd_settime");
    poll.add(newExit.fd, &exitWatch, EPOLLIN);
    pidFd.fd = std::exchange(newExit.fd, -1);
    poll.add(newTimer.fd, &timerWatch, EPOLLIN);
    timerFd.fd = std::exchange(newTimer.fd, -1);
  } catch (...) {
    release();
    child.reset();  // ends it with its group
    throw;
  }
  ended = std::move(whenEnded);
}

void ChildWatch::exited() {
  // An event fetched before the last run was collected says nothing about this one.
  if (!child) return;
  const std::optional<int> status = child->wait(std::chrono::milliseconds(0));
  if (!status) return;
  release();
  child.reset();
  // Moved out first: the handler may start the next child.
  Ended handler = std::move(ended);
  ended = nullptr;
  if (handler) handler(*status);
}

void ChildWatch::expired() {
  uint64_t expirations = 0;
  if (timerFd.fd < 0 || ::read(timerFd.fd, &expirations, sizeof expirations) != sizeof expirations) return;
  drop(timerFd);
  // Killed outright: a tool hung on its bus may not heed a request to end. Collected when its pidfd says so.
  ::kill(-child->id(), SIGKILL);
  Ended handler = std::move(ended);
  ended = nullptr;
  if (handler) handler(std::nullopt);
}

void ChildWatch::release() {
  drop(pidFd);
  drop(timerFd);
}

void ChildWatch::drop(Descriptor& descriptor) {
  if (descriptor.fd < 0) return;
  try {
    poll.remove(descriptor.fd);
  } catch (...) {
    // Reported by the poll; closing the descriptor deregisters it as well.
  }
  descriptor.reset();
}
