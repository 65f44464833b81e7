#include "tests/integration/sandbox_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Polls `done` every few milliseconds until it holds or the time is up.
template <typename Condition>
bool waitFor(Condition done, int timeoutMs) {
  for (auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); !done(); std::this_thread::sleep_for(5ms))
    if (Clock::now() >= end) return false;
  return true;
}

std::string makeStateDir() {
  std::string name = "sandbox";
  if (auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
    name = std::string(test->test_suite_name()) + "." + test->name();
  std::filesystem::create_directories(SANDBOX_STATE_ROOT);
  std::string pattern = std::string(SANDBOX_STATE_ROOT) + "/" + name + "-XXXXXX";
  return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

// The first object bubblewrap writes to its status descriptor names, as pid outside, the sandbox's init
// process; the main process is that one's only child.
pid_t readInitPid(int statusFd) {
  std::string text;
  char buffer[512];
  pollfd ready = {statusFd, POLLIN, 0};
  for (ssize_t got; text.find('}') == std::string::npos && ::poll(&ready, 1, 20000) > 0 &&
                    (got = ::read(statusFd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, got);
  size_t key = text.find("\"child-pid\":");
  return key == std::string::npos ? -1 : static_cast<pid_t>(std::atol(text.c_str() + key + 12));
}

// A word for /bin/sh that stands for exactly the given text.
std::string shellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

pid_t onlyChildOf(pid_t parent) {
  std::string id = std::to_string(parent);
  pid_t child = std::atoi(readFile("/proc/" + id + "/task/" + id + "/children").c_str());
  return child > 0 ? child : -1;
}

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
}  // namespace

std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

Sandbox::Sandbox(const std::string& startOptions) : state(makeStateDir()) {
  int status[2];
  if (state.empty() || ::pipe2(status, O_CLOEXEC) < 0) {
    ADD_FAILURE() << "cannot prepare a sandbox under " << SANDBOX_STATE_ROOT;
    return;
  }
  // Tests read the service's diagnostics down to DebugAll; a unit starts quieter (start-unit.sh).
  // Prepared before fork: between fork and exec the child may not allocate, since another thread of the
  // test could hold the allocator's lock.
  const std::string shell = "exec start-unit.sh --log-level DebugAll " + startOptions;
  const char* argv[] = {UNIT_SANDBOX_SCRIPT, "--build", SANDBOX_BUILD_DIR, "--status-fd", "3", state.c_str(), "--",
                        "/bin/sh",           "-c",      shell.c_str(),     nullptr};
  std::string consolePath = state + "/console.log";
  std::fflush(nullptr);
  sandboxPid = ::fork();
  if (sandboxPid == 0) {
    ::setpgid(0, 0);
    int console = ::open(consolePath.c_str(), O_CREAT | O_WRONLY | O_APPEND, 0644);
    ::dup2(console, 1);
    ::dup2(console, 2);
    ::dup2(status[1], 3);  // dup2 clears close-on-exec
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::execvp(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(status[1]);
  // Kept open until the sandbox has ended: bubblewrap writes the exit code there too.
  statusFd = status[0];
  // A main process that ends at once (a start-up that fails) may be gone before it is seen; then the
  // sandbox's end, with its status, is what there is to find.
  pid_t init = sandboxPid > 0 ? readInitPid(statusFd) : -1;
  if (init > 0) waitFor([&] { return (mainPid = onlyChildOf(init)) > 0 || waitForExit(0) >= 0; }, 10000);
  if (mainPid < 0 && exitStatus < 0) ADD_FAILURE() << "the sandbox did not start; see " << state << "/console.log";
}

Sandbox::~Sandbox() {
  if (sandboxPid > 0 && exitStatus < 0) {
    if (mainPid > 0) ::kill(mainPid, SIGKILL);
    if (waitForExit(5000) < 0) {
      ::kill(-sandboxPid, SIGKILL);
      waitForExit(5000);
    }
  }
  if (statusFd >= 0) ::close(statusFd);
  if (state.empty()) return;
  std::error_code ignored;
  if (::testing::Test::HasFailure())
    std::printf("sandbox state kept in %s\n", state.c_str());
  else
    std::filesystem::remove_all(state, ignored);
}

bool Sandbox::waitForKmsg(const std::string& text, int timeoutMs) const {
  return waitFor([&] { return readFile(state + "/kmsg.log").find(text) != std::string::npos; }, timeoutMs);
}

void Sandbox::signalService(int signal) const {
  if (mainPid > 0) ::kill(mainPid, signal);
}

int Sandbox::waitForExit(int timeoutMs) {
  if (exitStatus >= 0 || sandboxPid <= 0) return exitStatus;
  waitFor(
      [&] {
        int status = 0;
        if (::waitpid(sandboxPid, &status, WNOHANG) != sandboxPid) return false;
        exitStatus = decodeStatus(status);
        return true;
      },
      timeoutMs);
  return exitStatus;
}

int Sandbox::run(const std::string& command, std::string* output) const {
  if (mainPid < 0) return -1;
  // The command sees the environment the sandbox gave its main process (PATH with the stand-ins first).
  std::string line = "nsenter -t " + std::to_string(mainPid) + " -m -n -p -i -u -r -w -- env -i";
  std::istringstream variables(readFile("/proc/" + std::to_string(mainPid) + "/environ"));
  for (std::string variable; std::getline(variables, variable, '\0');) line.append(" ").append(shellWord(variable));
  FILE* pipe = ::popen((line + " /bin/sh -c " + shellWord(command) + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return status < 0 ? -1 : decodeStatus(status);
}

int Sandbox::connectTcp(uint16_t port) const {
  if (mainPid < 0) return -1;
  int result = -1;
  // Joining a network namespace changes only the calling thread, so a short-lived thread does it;
  // the socket it creates stays in that namespace and works from any thread.
  std::thread([&] {
    int ns = ::open(("/proc/" + std::to_string(mainPid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0) return;
    bool joined = ::setns(ns, CLONE_NEWNET) == 0;
    ::close(ns);
    if (!joined) return;
    const sockaddr_in address{
        .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      result = fd;
    else if (fd >= 0)
      ::close(fd);
  }).join();
  return result;
}

int Sandbox::startHttpFront(std::string* output) const {
  connectService(*this);
  return run(std::string(NGINX_START_SCRIPT) + " /tmp/nginx 8080", output);
}

std::unique_ptr<fcgiclient::FcgiClient> connectService(const Sandbox& unit) {
  int fd = -1;
  if (!waitFor([&] { return (fd = unit.connectTcp(9000)) >= 0; }, 10000))
    throw std::runtime_error("the service does not listen");
  return std::make_unique<fcgiclient::FcgiClient>(fd);
}

std::string call(fcgiclient::FcgiClient& client, const std::string& script, const std::string& body,
                 uint16_t requestId) {
  const auto reply = client.request({{"SCRIPT_NAME", script}}, body, true, requestId);
  if (!reply.ended) return "";
  const size_t head = reply.stdoutText.find("\r\n\r\n");
  return head == std::string::npos ? reply.stdoutText : reply.stdoutText.substr(head + 4);
}
