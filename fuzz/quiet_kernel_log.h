#pragma once
// Fuzz targets run millions of inputs whose failures are logged: the lines must never reach the
// host's kernel log, and formatting debug lines would only slow the run.
#include <sched.h>
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>

#include "apps/common/log/log.h"

namespace fuzzsupport {
// Moves the process into a private mount namespace with /dev/kmsg bound to /dev/null and raises the
// diagnostic threshold to Error. Ends the process when the namespace cannot be made.
inline void quietKernelLog() {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("/dev/null", "/dev/kmsg", nullptr, MS_BIND, nullptr) != 0) {
    std::perror("cannot hide /dev/kmsg; refusing to fuzz against the host's kernel log");
    std::exit(1);
  }
  static gen::LogLevel threshold = gen::Error;
  gComponentLogLevel = &threshold;
}
}  // namespace fuzzsupport
