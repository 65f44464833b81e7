#include "apps/common/event/polltimer.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <utility>

#include "apps/common/log/log.h"

PollTimer::PollTimer(EventPoll& poll, std::function<void()> expired) : poll(poll), expired(std::move(expired)) {
  fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) THROW_ERROR_NUMBER("timerfd_create");
  try {
    poll.add(fd, this, EPOLLIN);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

PollTimer::~PollTimer() {
  try {
    poll.remove(fd);
  } catch (const std::exception&) {
    // Already reported by the poll; the descriptor is closed all the same.
  }
  ::close(fd);
}

void PollTimer::start(std::chrono::milliseconds delay) {
  itimerspec when = {};
  // A zero time would disarm the timer instead of letting it expire at once.
  const int64_t ms = delay.count() > 0 ? delay.count() : 0;
  when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L + (ms == 0 ? 1 : 0);
  if (::timerfd_settime(fd, 0, &when, nullptr) != 0) THROW_ERROR_NUMBER("timerfd_settime");
  armed = true;
}

void PollTimer::stop() {
  itimerspec never = {};
  ::timerfd_settime(fd, 0, &never, nullptr);
  uint64_t expirations = 0;
  // An expiry not yet served would otherwise still be reported.
  [[maybe_unused]] ssize_t got = ::read(fd, &expirations, sizeof expirations);
  armed = false;
}

void PollTimer::event(EventType) {
  uint64_t expirations = 0;
  if (::read(fd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) return;
  armed = false;
  expired();
}
