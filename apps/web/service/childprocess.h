#pragma once
// A program run as a child of the service: no shell between, its own process group so that it can be
// ended with everything it started, and its standard streams on descriptors the caller chooses.
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/event/eventpoll.h"

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

// Runs programs one at a time as children that the event loop watches instead of waiting for: the end
// of each is reported through a pidfd registered with the poll, and a child still running at its bound
// is killed with its group. Events fetched before a run ended are told apart from the next run's by
// the descriptors' own state, so the object may start a new child from any callback.
class ChildWatch {
 public:
  // The status word of the child that ended, or nothing when it was killed at its bound.
  using Ended = std::function<void(std::optional<int> status)>;

  explicit ChildWatch(EventPoll& poll);
  // Ends a child that still runs, with its group.
  ~ChildWatch();
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

  // Starts argv as ChildProcess does; ended is called once, from a callback of the poll. Throws when
  // the child cannot be started or watched, or when the previous one has not been collected yet.
  void start(const std::vector<std::string>& argv, const ChildProcess::Streams& streams,
             std::chrono::milliseconds bound, Ended ended);
  // A child runs, or was killed at its bound and is not collected yet.
  bool busy() const { return child.has_value(); }
  pid_t id() const { return child ? child->id() : 0; }

 private:
  // One of the two descriptors' callbacks; both live as long as the watch.
  class Watch : public EventPoll::Callback {
   public:
    Watch(ChildWatch& owner, void (ChildWatch::*handler)()) : owner(owner), handler(handler) {}
    void event(EventType) override { (owner.*handler)(); }

   private:
    ChildWatch& owner;
    void (ChildWatch::*handler)();
  };

  void exited();
  void expired();
  void release();
  void drop(Descriptor& descriptor);

  EventPoll& poll;
  std::optional<ChildProcess> child;
  Descriptor pidFd;    // readable once the child has ended
  Descriptor timerFd;  // readable once the bound has passed
  Ended ended;
  Watch exitWatch{*this, &ChildWatch::exited};
  Watch timerWatch{*this, &ChildWatch::expired};
};
