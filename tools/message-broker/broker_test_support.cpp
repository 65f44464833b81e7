#include "tools/message-broker/broker_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace brokertest {
void enterPrivateUnitPaths() {
  static bool entered = false;
  if (entered) return;
  ASSERT_EQ(::mount("none", "/dev/shm", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
  ASSERT_EQ(::mount("none", "/var", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
  ASSERT_EQ(::mkdir("/var/volatile", 0755), 0) << std::strerror(errno);
  entered = true;
}

int semaphoreValue() {
  sem_t* ready = ::sem_open(kSemaphore, 0);
  if (ready == SEM_FAILED) return -1;
  int value = -1;
  ::sem_getvalue(ready, &value);
  ::sem_close(ready);
  return value;
}

BrokerProcess::BrokerProcess() : logPath("/var/broker-" + std::to_string(::getpid()) + ".log") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const char* arguments[] = {MESSAGE_BROKER_PATH, "--trace", nullptr};
  int failed = ::posix_spawn(&pid, MESSAGE_BROKER_PATH, &actions, nullptr, const_cast<char**>(arguments), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(failed, 0) << std::strerror(failed);
  if (failed != 0) pid = -1;
  for (int i = 0; i < 500 && semaphoreValue() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(semaphoreValue(), 1) << "the broker did not become ready";
}

BrokerProcess::~BrokerProcess() { stop(); }

int BrokerProcess::stop() {
  if (pid < 0) return -1;
  ::kill(pid, SIGTERM);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string BrokerProcess::log() const {
  std::ifstream in(logPath);
  return {std::istreambuf_iterator<char>(in), {}};
}
}  // namespace brokertest
