#include "tests/unit/kernel_log_capture.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace testsupport {
namespace {
constexpr char kMarker[] = "\x01kernel-log-capture ";

int captureFd = -1;  // read end of the drained copy, shared with forked children

[[noreturn]] void refuse(const char* what) {
  std::fprintf(stderr, "cannot isolate /dev/kmsg (%s: %s); refusing to run tests against the host's kernel log\n", what,
               std::strerror(errno));
  std::exit(1);
}

[[noreturn]] void drain(int fifo, int copy) {
  char buffer[8192];
  for (;;) {
    ssize_t got = ::read(fifo, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) ::_exit(0);
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(copy, buffer + done, got - done);
      if (put < 0 && errno != EINTR) ::_exit(1);
      if (put > 0) done += put;
    }
  }
}

std::string readCopy() {
  std::string text;
  char buffer[8192];
  off_t offset = 0;
  for (;;) {
    ssize_t got = ::pread(captureFd, buffer, sizeof buffer, offset);
    if (got <= 0) return text;
    text.append(buffer, got);
    offset += got;
  }
}

std::string withoutMarkers(const std::string& text) {
  std::string kept;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text.compare(start, sizeof kMarker - 1, kMarker) != 0) kept.append(text, start, end - start);
    start = end;
  }
  return kept;
}
}  // namespace

void isolateKernelLog() {
  if (::unshare(CLONE_NEWNS) < 0) refuse("unshare");
  // The kernel ignores the type of these two mounts; a name instead of null keeps memory checkers quiet.
  if (::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) < 0) refuse("mount private");
  char dir[] = "/tmp/unit-test-kmsg-XXXXXX";
  if (::mkdtemp(dir) == nullptr) refuse("mkdtemp");
  std::string fifoPath = std::string(dir) + "/fifo";
  std::string copyPath = std::string(dir) + "/copy";
  if (::mkfifo(fifoPath.c_str(), 0600) < 0) refuse("mkfifo");
  // Read-write, so the drain never sees end-of-file when a writer closes.
  int fifo = ::open(fifoPath.c_str(), O_RDWR | O_CLOEXEC);
  int copy = ::open(copyPath.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0600);
  captureFd = ::open(copyPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fifo < 0 || copy < 0 || captureFd < 0) refuse("open");
  if (::mount(fifoPath.c_str(), "/dev/kmsg", "none", MS_BIND, nullptr) < 0) refuse("bind /dev/kmsg");
  // The descriptors and the bind keep both alive; nothing is left behind when the process ends.
  ::unlink(fifoPath.c_str());
  ::unlink(copyPath.c_str());
  ::rmdir(dir);

  pid_t parent = ::getpid();
  pid_t drainer = ::fork();
  if (drainer < 0) refuse("fork");
  if (drainer == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    drain(fifo, copy);
  }
  ::close(fifo);
  ::close(copy);
}

std::string kernelLogText() {
  // Everything written before the marker has reached the copy once the marker has.
  static unsigned int serial = 0;
  std::string marker = kMarker + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "\n";
  int fifo = ::open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
  if (fifo < 0 || ::write(fifo, marker.data(), marker.size()) != static_cast<ssize_t>(marker.size())) {
    std::fprintf(stderr, "kernel log capture: cannot write marker: %s\n", std::strerror(errno));
    std::exit(1);
  }
  ::close(fifo);
  for (;;) {
    std::string text = readCopy();
    if (text.find(marker) != std::string::npos) return withoutMarkers(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string kernelLogSince(size_t offset) {
  std::string text = kernelLogText();
  return offset < text.size() ? text.substr(offset) : std::string();
}
}  // namespace testsupport
