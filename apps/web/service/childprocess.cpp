#include "apps/web/service/childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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
