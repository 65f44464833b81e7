#include "apps/web/service/logging.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <stdexcept>
#include <utility>

#include "apps/common/log/log.h"

namespace {
std::string describe(const std::optional<int>& status) {
  if (!status) return "still running, stopped";
  if (WIFSIGNALED(*status)) return "killed by signal " + std::to_string(WTERMSIG(*status));
  return "exit status " + std::to_string(WEXITSTATUS(*status));
}
}  // namespace

Logging::Logging(EventPoll& poll, std::vector<std::string> command)
    : poll(poll), command(std::move(command)), timer(poll, [this] { registered ? replayQuiet() : restart(); }) {}

Logging::~Logging() {
  child.reset();
  if (!registered) return;
  try {
    poll.remove(readEnd.fd);
  } catch (const std::exception&) {
    // Already reported by the poll; the descriptor is closed all the same.
  }
}

void Logging::init() {
  readEnd.reset();
  int ends[2];
  // Close-on-exec, so that no other child of the service inherits the pipe and keeps it open.
  if (::pipe2(ends, O_CLOEXEC) != 0) THROW_ERROR_NUMBER("pipe");
  readEnd.fd = ends[0];
  Descriptor writeEnd(ends[1]);
  ChildProcess::Streams streams;
  streams.output = writeEnd.fd;
  child.emplace(command, streams);
  int flags = ::fcntl(readEnd.fd, F_GETFL);
  if (flags < 0 || ::fcntl(readEnd.fd, F_SETFL, flags | O_NONBLOCK) < 0) THROW_ERROR_NUMBER("fcntl");
  poll.add(readEnd.fd, this, EPOLLIN);
  registered = true;
  startedAt = std::chrono::steady_clock::now();
}

void Logging::event(EventType type) {
  if (type != HangUp) {
    parseData();
    return;
  }
  // A hang-up is reported in place of the readable state, so what the child wrote last is still in the pipe.
  parseData();
  poll.remove(readEnd.fd);
  registered = false;
  readEnd.reset();
  if (std::chrono::steady_clock::now() - startedAt >= kYoung) restartDelay = kFirstRestart;
  timer.start(restartDelay);
  restartDelay = std::min(restartDelay * 2, kLastRestart);
}

// The ended child is collected here, not at the hang-up, which may come before it has exited.
void Logging::restart() {
  if (child) {
    const std::optional<int> status = child->wait(std::chrono::milliseconds(0));
    child.reset();  // ends whatever of it is left
    if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 127) {
      LOG(Warn, "dmesg exited, no more log output for web gui.");
      return;
    }
    LOG(Warn, "dmesg ended (%s); starting it again", describe(status).c_str());
  }
  try {
    init();
    resume.restart();
  } catch (const std::exception&) {
    timer.start(restartDelay);
    restartDelay = std::min(restartDelay * 2, kLastRestart);
  }
}

void Logging::replayQuiet() {
  fresh.clear();
  if (resume.settle(fresh)) {
    converter.convert(fresh.data(), fresh.size(), html);
  } else if (resume.replaying()) {
    timer.start(kReplayQuiet);
  }
}

void Logging::parseData() {
  char buffer[kChunkSize];
  for (;;) {
    ssize_t got = ::read(readEnd.fd, buffer, sizeof buffer);
    if (got <= 0) return;
    fresh.clear();
    resume.take(std::string_view(buffer, static_cast<size_t>(got)), fresh);
    converter.convert(fresh.data(), fresh.size(), html);
    if (resume.replaying()) timer.start(kReplayQuiet);
    if (static_cast<size_t>(got) < sizeof buffer) return;
  }
}

std::optional<LogText::Position> Logging::answerStart(const std::string& query, LogText::Position length) {
  static constexpr std::string_view kOffset = "offset=";
  if (query.compare(0, kOffset.size(), kOffset) != 0) return 0;
  // Read as std::stoi reads it, whatever follows the digits ignored, but not limited to an int: the
  // stream of a unit that runs for weeks passes 2 GiB.
  const char* p = query.c_str() + kOffset.size();
  const char* end = query.c_str() + query.size();
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p < end && *p == '+') ++p;
  LogText::Position known = 0;
  if (std::from_chars(p, end, known).ec != std::errc() || known == 0) return 0;
  if (known == length) return std::nullopt;
  return known < length ? known : 0;
}
