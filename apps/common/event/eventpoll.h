#pragma once
// The process's one readiness loop: level-triggered epoll, terminate/timer signals, optional timer.
#include <time.h>

#include <chrono>

class EventPoll {
 public:
  class Callback {
   public:
    // Writable is reported only to descriptors registered for EPOLLOUT: a connection with output
    // the socket could not take yet.
    enum EventType { Priority = 0, Readable = 1, HangUp = 2, Writable = 3 };
    virtual void event(EventType type) = 0;

   protected:
    ~Callback() = default;
  };

  // Results of wait().
  enum WaitResult { Interrupted = 0, Timer = 1, Timeout = 2, Dispatched = 3, Terminate = 4 };

  // Events fetched and dispatched by one wait().
  static constexpr int kMaxEvents = 8;

  EventPoll();
  ~EventPoll();
  EventPoll(const EventPoll&) = delete;
  EventPoll& operator=(const EventPoll&) = delete;

  void add(int fd, Callback* callback, unsigned int events);
  // Replaces the event mask of a registered descriptor.
  void modify(int fd, Callback* callback, unsigned int events);
  void remove(int fd);
  void setTimer(int ms);
  int wait(int timeoutMs, bool ignoreTerminate);
  static bool shouldTerminate();
  // When the last wait() came back from the system's wait: where the work of the loop's turn began.
  std::chrono::steady_clock::time_point wokeAt() const { return woke; }
  int close();

 private:
  void control(int operation, int fd, Callback* callback, unsigned int events);

  int epollFd = -1;
  timer_t timer = nullptr;
  // The kernel numbers a process's first timer 0, so a null timer_t is a valid timer.
  bool hasTimer = false;
  std::chrono::steady_clock::time_point woke;
};
