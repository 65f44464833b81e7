// message-broker [--socket PATH] [--max-pending BYTES] [--trace]
// Stands in for the unit's broker: readiness semaphore, Unix socket, record forwarding.
// SIGUSR1 makes it stall as a hung broker does (it accepts, reads and sends nothing), SIGUSR2 ends that.
#include <fcntl.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/message-broker/broker.h"

namespace {
constexpr const char* kReadySemaphore = "/message-broker-ready";
constexpr const char* kDefaultSocket = "/var/volatile/message-broker.socket";
constexpr size_t kDefaultMaxPending = 256 * 1024;

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t stalled = 0;
void requestStop(int) { stopRequested = 1; }
void stall(int) { stalled = 1; }
void resume(int) { stalled = 0; }

struct Options {
  std::string socketPath = kDefaultSocket;
  size_t maxPending = kDefaultMaxPending;
  bool trace = false;
};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: message-broker [--socket PATH] [--max-pending BYTES] [--trace]\n");
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--socket" && i + 1 < argc) {
      options.socketPath = argv[++i];
    } else if (argument == "--max-pending" && i + 1 < argc) {
      char* end = nullptr;
      unsigned long long value = std::strtoull(argv[++i], &end, 10);
      if (*end != '\0' || value == 0 || value > SIZE_MAX) usage();
      options.maxPending = static_cast<size_t>(value);
    } else if (argument == "--trace") {
      options.trace = true;
    } else {
      usage();
    }
  }
  return options;
}

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "message-broker: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

int listenOn(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "message-broker: socket path too long: %s\n", path.c_str());
    std::exit(2);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) die("socket");
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) die(path.c_str());
  if (::listen(fd, 64) != 0) die("listen");
  return fd;
}
}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);

  // A broker that died earlier leaves both behind; clients must never pass a stale semaphore.
  ::sem_unlink(kReadySemaphore);
  ::unlink(options.socketPath.c_str());

  struct sigaction stop {};
  stop.sa_handler = requestStop;
  ::sigaction(SIGINT, &stop, nullptr);
  ::sigaction(SIGTERM, &stop, nullptr);
  struct sigaction stallAction {};
  stallAction.sa_handler = stall;
  ::sigaction(SIGUSR1, &stallAction, nullptr);
  struct sigaction resumeAction {};
  resumeAction.sa_handler = resume;
  ::sigaction(SIGUSR2, &resumeAction, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  int status = 0;
  try {
    Broker broker(listenOn(options.socketPath), options.maxPending, options.trace);
    sem_t* ready = ::sem_open(kReadySemaphore, O_CREAT | O_EXCL, 0666, 0);
    if (ready == SEM_FAILED) die("sem_open");
    if (::sem_post(ready) != 0) die("sem_post");
    ::sem_close(ready);
    // The timeout bounds how long a stop signal that lands just before the wait goes unnoticed.
    while (!stopRequested) {
      if (stalled)
        ::usleep(20000);
      else
        broker.step(200);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "message-broker: %s\n", error.what());
    status = 1;
  }
  ::unlink(options.socketPath.c_str());
  ::sem_unlink(kReadySemaphore);
  return status;
}
