#pragma once
// A program run as a child of the service: no shell between, its own process group so that it can be
// ended with everything it started, and its standard streams on descriptors the caller chooses.
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A descriptor closed when it goes out of scope, for the ends of a child's streams.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd;
};

class ChildProcess {
 public:
  // Descriptors for the child's standard input, output and error; -1 leaves the service's own.
  struct Streams {
    int input = -1;
    int output = -1;
    int error = -1;
  };

  // Starts argv[0], looked up on PATH, with the arguments argv; throws when no child can be made. A
  // program that cannot be executed ends the child with status 127.
  ChildProcess(const std::vector<std::string>& argv, const Streams& streams);
  // Ends the child's group if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t id() const { return pid; }
  // The status word once the child has ended (it is then reaped), waiting at most timeout for that.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // Asks the whole group to end, kills it when it has not within a second, and reaps the child.
  void stop();

 private:
  bool reaped(bool block);

  pid_t pid = 0;
  std::optional<int> status;
};
