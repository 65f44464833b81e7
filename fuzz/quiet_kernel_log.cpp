#include "fuzz/quiet_kernel_log.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apps/common/log/log.h"

namespace fuzzsupport {
namespace {
[[noreturn]] void refuse(const char* what) {
  std::fprintf(stderr, "cannot hide /dev/kmsg (%s: %s); refusing to fuzz against the host's kernel log\n", what,
               std::strerror(errno));
  std::exit(1);
}
}  // namespace

void quietKernelLog() {
  if (::unshare(CLONE_NEWNS) != 0) refuse("unshare");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) refuse("mount private");
  if (::mount("/dev/null", "/dev/kmsg", nullptr, MS_BIND, nullptr) != 0) refuse("bind /dev/kmsg");
  static gen::LogLevel threshold = gen::Error;
  gComponentLogLevel = &threshold;
}
}  // namespace fuzzsupport
