#include "apps/web/service/childprocess.h"

#include <fcntl.h>
#include <signal.h>
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

// In the child: the caller's descriptors as 0, 1 and 2. Moved above 2 first, so that no source is
// overwritten by another's target.
void takeStreams(const ChildProcess::Streams& streams) {
  const int sources[] = {streams.input, streams.output, streams.error};
  int moved[3];
  for (int i = 0; i < 3; ++i) moved[i] = sources[i] < 0 ? -1 : ::fcntl(sources[i], F_DUPFD_CLOEXEC, 3);
  for (int i = 0; i < 3; ++i)
    if (moved[i] >= 0) ::dup2(moved[i], i);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Streams& streams) {
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  pid_t child = ::fork();
  if (child < 0) THROW_ERROR_NUMBER("fork");
  if (child == 0) {
    ::setpgid(0, 0);
    takeStreams(streams);
    ::signal(SIGPIPE, SIG_DFL);  // the service ignores it; a program writing to a closed pipe should end
    ::execvp(arguments[0], arguments.data());
    ::_exit(127);
  }
  ::setpgid(child, child);  // also here, so that the group exists before the parent may signal it
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
