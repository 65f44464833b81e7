#include "fuzz/quiet_kernel_log.h"

#include <sched.h>
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>

#include "apps/common/log/log.h"

namespace fuzzsupport {
void quietKernelLog() {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("/dev/null", "/dev/kmsg", nullptr, MS_BIND, nullptr) != 0) {
    std::perror("cannot hide /dev/kmsg; refusing to fuzz against the host's kernel log");
    std::exit(1);
  }
  static gen::LogLevel threshold = gen::Error;
  gComponentLogLevel = &threshold;
}
}  // namespace fuzzsupport
