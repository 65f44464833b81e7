#include "apps/web/service/logging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "apps/common/log/log.h"

extern char** environ;

namespace {
constexpr int kStopPolls = 100;
constexpr useconds_t kStopPollInterval = 10000;
}  // namespace

Logging::Logging(EventPoll& poll, std::string command) : poll(poll), command(std::move(command)) {}

Logging::~Logging() {
  if (pid > 0) stopChild();
  if (fd >= 0) {
    if (registered) {
      try {
        poll.remove(fd);
      } catch (const std::exception&) {
        // Already reported by the poll; the descriptor is closed all the same.
      }
    }
    ::close(fd);
  }
}

// The child leads its own process group, so that a shell that does not exec its command takes the
// command with it. A child that ignores the request to end is killed after a second.
void Logging::stopChild() {
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < kStopPolls; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
    ::usleep(kStopPollInterval);
  }
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

int Logging::popen(const char* command, int& pid) {
  int ends[2];
  // Close-on-exec, so that no other child of the service inherits the pipe and keeps it open.
  if (::pipe2(ends, O_CLOEXEC) != 0) THROW_ERROR_NUMBER("pipe");
  char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command), nullptr};
  pid_t child = ::fork();
  if (child < 0) {
    int error = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    errno = error;
    THROW_ERROR_NUMBER("fork");
  }
  if (child == 0) {
    ::setpgid(0, 0);
    if (ends[1] != STDOUT_FILENO)
      ::dup2(ends[1], STDOUT_FILENO);
    else
      ::fcntl(STDOUT_FILENO, F_SETFD, 0);
    ::execve("/bin/sh", argv, environ);
    ::_exit(127);
  }
  ::setpgid(child, child);  // also here, so that the group exists before the parent may signal it
  ::close(ends[1]);
  pid = child;
  return ends[0];
}

void Logging::init() {
  fd = popen(command.c_str(), pid);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) THROW_ERROR_NUMBER("fcntl");
  poll.add(fd, this, EPOLLIN);
  registered = true;
}

void Logging::event(EventType type) {
  if (type != HangUp) {
    parseData();
    return;
  }
  // A hang-up is reported in place of the readable state, so what the child wrote last is still in the pipe.
  parseData();
  poll.remove(fd);
  registered = false;
  ::close(fd);
  fd = -1;
  if (::waitpid(pid, nullptr, WNOHANG) == pid) pid = 0;
  LOG(Warn, "dmesg exited, no more log output for web gui.");
}

void Logging::parseData() {
  char buffer[kChunkSize];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return;
    converter.convert(buffer, static_cast<size_t>(got), html);
    if (static_cast<size_t>(got) < sizeof buffer) return;
  }
}

std::optional<LogText::Position> Logging::answerStart(const std::string& query, LogText::Position length) {
  static constexpr std::string_view kOffset = "offset=";
  if (query.compare(0, kOffset.size(), kOffset) != 0) return 0;
  // Read as std::stoi reads it, whatever follows the digits ignored, but not limited to an int: the
  // stream of a unit that runs for weeks passes 2 GiB.
  const char* p = query.c_str() + kOffset.size();
  const char* end = query.c_str() + query.size();
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p < end && *p == '+') ++p;
  LogText::Position known = 0;
  if (std::from_chars(p, end, known).ec != std::errc() || known == 0) return 0;
  if (known == length) return std::nullopt;
  return known < length ? known : 0;
}
