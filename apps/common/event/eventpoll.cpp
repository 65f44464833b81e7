#include "apps/common/event/eventpoll.h"

#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "apps/common/log/log.h"

namespace {
// Written by the signal handler, read and cleared by wait(); shared by every poll of the process.
std::atomic<uint32_t> pendingSignals{0};
std::atomic<bool> timerFired{false};
std::atomic<bool> terminateRequested{false};
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

void onSignal(int signal) {
  if (signal == SIGALRM) {
    timerFired = true;
    return;
  }
  if (signal >= 0 && signal < 32) pendingSignals.fetch_or(uint32_t{1} << signal);
  terminateRequested = true;
}

void installHandler(int signal) {
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigfillset(&action.sa_mask);
  // No SA_RESTART: a blocking call that a signal interrupts must fail with EINTR.
  action.sa_flags = 0;
  if (::sigaction(signal, &action, nullptr) < 0) THROW_ERROR_NUMBER("sigaction");
}

int takeTimerResult(int otherwise) { return timerFired.exchange(false) ? EventPoll::Timer : otherwise; }

// Hang-up wins over urgent data, urgent data over plain data, data over writability; an error bit
// alone calls nothing.
std::optional<EventPoll::Callback::EventType> eventTypeOf(uint32_t events) {
  if (events & EPOLLHUP) return EventPoll::Callback::HangUp;
  if (events & EPOLLPRI) return EventPoll::Callback::Priority;
  if (events & EPOLLIN) return EventPoll::Callback::Readable;
  if (events & EPOLLOUT) return EventPoll::Callback::Writable;
  return std::nullopt;
}
}  // namespace

EventPoll::EventPoll() {
  installHandler(SIGINT);
  installHandler(SIGTERM);
  installHandler(SIGALRM);
  // A write to a closed socket must fail with EPIPE instead of ending the process.
  ::signal(SIGPIPE, SIG_IGN);
  epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) throw std::runtime_error(std::string("epoll_create: ") + std::strerror(errno));
}

EventPoll::~EventPoll() {
  close();
  if (hasTimer) ::timer_delete(timer);
}

void EventPoll::add(int fd, Callback* callback, unsigned int events) {
  if (epollFd < 0) THROW_ERROR("add called on an already closed handle");
  control(EPOLL_CTL_ADD, fd, callback, events);
  LOG(DebugMost, "Add new client %i/%p", fd, static_cast<void*>(callback));
}

void EventPoll::modify(int fd, Callback* callback, unsigned int events) {
  if (epollFd < 0) THROW_ERROR("modify called on an already closed handle");
  control(EPOLL_CTL_MOD, fd, callback, events);
}

void EventPoll::control(int operation, int fd, Callback* callback, unsigned int events) {
  epoll_event event = {};
  event.events = events;
  event.data.ptr = callback;
  if (::epoll_ctl(epollFd, operation, fd, &event) < 0) THROW_ERROR_NUMBER("epoll_ctl");
}

void EventPoll::remove(int fd) {
  if (epollFd < 0) return;
  epoll_event unused = {};
  if (::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, &unused) < 0) THROW_ERROR_NUMBER("epoll_ctl");
  LOG(DebugMost, "Remove  client %i", fd);
}

void EventPoll::setTimer(int ms) {
  if (ms == -1) {
    if (hasTimer) ::timer_delete(timer);
    hasTimer = false;
    timer = nullptr;
    return;
  }
  if (!hasTimer) {
    sigevent notification = {};
    notification.sigev_notify = SIGEV_SIGNAL;
    notification.sigev_signo = SIGALRM;
    notification.sigev_value.sival_ptr = this;
    if (::timer_create(CLOCK_MONOTONIC, &notification, &timer) < 0) THROW_ERROR_NUMBER("timer create");
    hasTimer = true;
  }
  itimerspec period = {};
  period.it_value.tv_sec = ms / 1000;
  period.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  period.it_interval = period.it_value;
  if (::timer_settime(timer, 0, &period, nullptr) < 0) THROW_ERROR_NUMBER("timer set");
}

int EventPoll::wait(int timeoutMs, bool ignoreTerminate) {
  uint32_t signals = pendingSignals.exchange(0);
  for (int signal = 0; signal < 32; ++signal) {
    if (signals & (uint32_t{1} << signal)) LOG(LogLight, "SIG %i: %s", signal, ::strsignal(signal));
  }
  if (!ignoreTerminate && terminateRequested) return Terminate;
  if (epollFd < 0) THROW_ERROR("wait called on an already closed handle");

  epoll_event events[kMaxEvents];
  int count = ::epoll_wait(epollFd, events, kMaxEvents, timeoutMs);
  woke = std::chrono::steady_clock::now();
  if (count < 0) {
    if (errno == EINTR) return takeTimerResult(Interrupted);
    THROW_ERROR_NUMBER("epoll_wait");
  }
  if (count == 0) return Timeout;

  for (int i = 0; i < count; ++i) {
    auto* callback = static_cast<Callback*>(events[i].data.ptr);
    if (callback == nullptr) {
      LOG(Warn, "Unhandled event: %08x", events[i].events);
      continue;
    }
    LOG(DebugAll, "Call    client %p for events %08x", static_cast<void*>(callback), events[i].events);
    if (auto type = eventTypeOf(events[i].events)) callback->event(*type);
  }
  return takeTimerResult(Dispatched);
}

bool EventPoll::shouldTerminate() { return terminateRequested; }

int EventPoll::close() {
  if (epollFd < 0) return epollFd;
  int result = ::close(epollFd);
  epollFd = -1;
  return result;
}
