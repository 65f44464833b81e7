#include "tests/unit/kernel_log_capture.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace testsupport {
namespace {
constexpr char kMarker[] = "\x01kernel-log-capture ";

int captureFd = -1;  // the drained copy, shared with forked children

[[noreturn]] void refuse(const char* what) {
  std::fprintf(stderr, "cannot isolate /dev/kmsg (%s: %s); refusing to run tests against the host's kernel log\n", what,
               std::strerror(errno));
  std::exit(1);
}

[[noreturn]] void drain(int fifo, int copy) {
  char buffer[8192];
  for (ssize_t got; (got = ::read(fifo, buffer, sizeof buffer)) != 0;)
    if ((got < 0 && errno != EINTR) || (got > 0 && ::write(copy, buffer, got) != got)) ::_exit(1);
  ::_exit(0);
}

// Markers are written whole, with their line end, in one write to the FIFO.
std::string withoutMarkers(std::string text) {
  for (size_t at; (at = text.find(kMarker)) != std::string::npos;) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}
}  // namespace

void isolateKernelLog() {
  if (::unshare(CLONE_NEWNS) < 0) refuse("unshare");
  // The kernel ignores the type of these two mounts; a name instead of null keeps memory checkers quiet.
  if (::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) < 0) refuse("mount private");
  char dir[] = "/tmp/unit-test-kmsg-XXXXXX";
  if (::mkdtemp(dir) == nullptr) refuse("mkdtemp");
  std::string fifoPath = std::string(dir) + "/fifo";
  if (::mkfifo(fifoPath.c_str(), 0600) < 0) refuse("mkfifo");
  // Read-write, so the drain never sees end-of-file when a writer closes.
  int fifo = ::open(fifoPath.c_str(), O_RDWR | O_CLOEXEC);
  // The copy lives in memory; the drain appends to it.
  captureFd = ::memfd_create("kernel-log-copy", MFD_CLOEXEC);
  if (fifo < 0 || captureFd < 0) refuse("open");
  if (::mount(fifoPath.c_str(), "/dev/kmsg", "none", MS_BIND, nullptr) < 0) refuse("bind /dev/kmsg");
  // The descriptors and the bind keep both alive; nothing is left behind when the process ends.
  ::unlink(fifoPath.c_str());
  ::rmdir(dir);

  pid_t parent = ::getpid();
  pid_t drainer = ::fork();
  if (drainer < 0) refuse("fork");
  if (drainer == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    drain(fifo, captureFd);
  }
  ::close(fifo);
}

std::string kernelLogText() {
  // Everything written before the marker has reached the copy once the marker has.
  static unsigned int serial = 0;
  std::string marker = kMarker + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "\n";
  int fifo = ::open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
  if (fifo < 0 || ::write(fifo, marker.data(), marker.size()) != static_cast<ssize_t>(marker.size()))
    refuse("write a marker");
  ::close(fifo);
  for (;;) {
    std::ostringstream copy;  // opened afresh through /proc, so reading never moves the drain's offset
    copy << std::ifstream("/proc/self/fd/" + std::to_string(captureFd), std::ios::binary).rdbuf();
    if (copy.str().find(marker) != std::string::npos) return withoutMarkers(copy.str());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The copy only grows, so an earlier size is never past its end.
std::string kernelLogSince(size_t offset) { return kernelLogText().substr(offset); }
}  // namespace testsupport
