#pragma once
// A one-shot timer served by the event poll, for work that must happen later without the loop ever
// sleeping for it: the poll calls back when the time has come.
#include <chrono>
#include <functional>

#include "apps/common/event/eventpoll.h"

class PollTimer : public EventPoll::Callback {
 public:
  PollTimer(EventPoll& poll, std::function<void()> expired);
  ~PollTimer();
  PollTimer(const PollTimer&) = delete;
  PollTimer& operator=(const PollTimer&) = delete;

  // Arms the timer anew: expired runs once, from the poll, after delay.
  void start(std::chrono::milliseconds delay);
  void stop();
  bool running() const { return armed; }

  void event(EventType type) override;

 private:
  EventPoll& poll;
  std::function<void()> expired;
  int fd = -1;
  bool armed = false;
};
