#pragma once
// Integration tests run the real service inside a fresh unit sandbox (tools/sandbox/unit-sandbox), one per
// Sandbox object, each with its own state folder, network namespace and shared memory. The unit is brought up
// by tools/sandbox/start-unit.sh, which ends by exec'ing the service, so that the sandbox's main process (pid,
// signals, exit status) is the service's. The state folder is removed when the test passed and kept when it failed.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tools/fcgi-client/fcgiclient.h"

class Sandbox {
 public:
  // Message broker, "unit-simulator create", then webservice; startOptions go to start-unit.sh (shell words).
  explicit Sandbox(const std::string& startOptions = "");
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Host path of the state folder: kmsg.log, fb0, var/, update/, console.log (the sandbox's output) and more.
  const std::string& stateDir() const { return state; }

  // Polls what was written to /dev/kmsg inside (kmsg.log in the state folder) until `text` appears.
  bool waitForKmsg(const std::string& text, int timeoutMs = 10000) const;

  void signalService(int signal) const;
  // The service's process id outside the sandbox, -1 when it did not start.
  pid_t servicePid() const { return mainPid; }
  // The main process's exit status (128 + signal number after a signal), or -1 if it still runs after timeoutMs.
  int waitForExit(int timeoutMs = 10000);

  // Runs a shell command line inside the running sandbox; answers its exit status and, if asked, its output.
  int run(const std::string& command, std::string* output = nullptr) const;

  // A socket connected to 127.0.0.1:port inside the sandbox's network namespace, or -1.
  int connectTcp(uint16_t port) const;

  // Waits for the service to listen, then starts the HTTP front (tools/nginx) inside on port 8080;
  // answers the start script's exit status and, if asked, its output.
  int startHttpFront(std::string* output = nullptr) const;

 private:
  std::string state;
  pid_t sandboxPid = -1;  // the unit-sandbox script, our child
  pid_t mainPid = -1;
  int statusFd = -1;
  int exitStatus = -1;
};

// The whole content of a file, "" when there is none.
std::string readFile(const std::string& path);

// A keep-alive FastCGI client on the service's port, once the service listens.
std::unique_ptr<fcgiclient::FcgiClient> connectService(const Sandbox& unit);
// One request on the connection; the answer's body after its head ("" when it did not end).
std::string call(fcgiclient::FcgiClient& client, const std::string& script, const std::string& body,
                 uint16_t requestId = 1);