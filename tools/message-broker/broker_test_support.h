#pragma once
// For tests of the broker's clients: the unit's fixed broker paths made private to the test process, and the
// broker stand-in started as a child process on them.
#include <sys/types.h>

#include <string>

namespace brokertest {
inline constexpr const char* kSemaphore = "/message-broker-ready";
inline constexpr const char* kSocketPath = "/var/volatile/message-broker.socket";

// Fresh /dev/shm and /var/volatile for this process (the test main has given it a mount namespace of its
// own); idempotent. Fails the current test when the mounts cannot be made.
void enterPrivateUnitPaths();

// The readiness semaphore's value, -1 when it does not exist.
int semaphoreValue();

// The broker stand-in with --trace, its standard error in a file; ready once constructed.
class BrokerProcess {
 public:
  BrokerProcess();
  ~BrokerProcess();
  BrokerProcess(const BrokerProcess&) = delete;
  BrokerProcess& operator=(const BrokerProcess&) = delete;

  // SIGTERM and wait; the exit status (-1 when it did not exit normally).
  int stop();
  std::string log() const;

 private:
  pid_t pid = -1;
  std::string logPath;
};
}  // namespace brokertest
