#include "tests/unit/child_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

namespace testsupport {
bool passesInChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    int code = 0;
    try {
      body();
      code = ::testing::Test::HasFailure() ? 1 : 0;
    } catch (const std::exception& error) {
      std::fprintf(stdout, "unexpected exception in child: %s\n", error.what());
      code = 2;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
}  // namespace testsupport
