#include "apps/web/service/logresume.h"

namespace {
// A line without end is kept only this far back; a longer one is at worst repeated after a restart.
constexpr size_t kLongestTail = 64 * 1024;
}  // namespace

void LogResume::restart() {
  catchingUp = lines > 0 || !tail.empty();
  replayed = 0;
  line.clear();
  held.clear();
}

void LogResume::take(std::string_view data, std::string& out) {
  while (catchingUp && !data.empty()) {
    const size_t end = data.find('\n');
    if (end == std::string_view::npos) {
      line.append(data);
      return;
    }
    line.append(data.substr(0, end + 1));
    data.remove_prefix(end + 1);
    const std::string complete = std::move(line);
    line.clear();
    takeLine(complete, out);
  }
  pass(data, out);
}

void LogResume::takeLine(const std::string& replayedLine, std::string& out) {
  const uint64_t index = replayed++;
  if (index < lines) {
    if (replayedLine == last) {
      held.clear();
    } else {
      held += replayedLine;
    }
    if (index + 1 < lines) return;
    if (replayedLine != last) {
      // The kernel dropped old lines: what follows the latest copy of the last line is new.
      passHeld(out);
    } else if (tail.empty()) {
      follow();
    }
    return;
  }
  // The line the old reader was cut off in: only its rest is new.
  std::string_view rest = replayedLine;
  if (rest.starts_with(tail)) rest.remove_prefix(tail.size());
  tail.clear();
  follow();
  pass(rest, out);
}

bool LogResume::settle(std::string& out) {
  if (!catchingUp || (replayed == 0 && line.empty())) return false;
  const std::string unfinished = std::move(line);
  passHeld(out);
  pass(unfinished, out);
  return true;
}

void LogResume::passHeld(std::string& out) {
  const std::string fresh = std::move(held);
  // Whole lines follow; a line the old reader was cut off in is not continued by them.
  tail.clear();
  follow();
  pass(fresh, out);
}

void LogResume::follow() {
  catchingUp = false;
  held.clear();
  line.clear();
}

void LogResume::pass(std::string_view data, std::string& out) {
  out.append(data);
  for (size_t end; (end = data.find('\n')) != std::string_view::npos; data.remove_prefix(end + 1)) {
    last = std::move(tail);
    last.append(data.substr(0, end + 1));
    tail.clear();
    ++lines;
  }
  tail.append(data);
  if (tail.size() > kLongestTail) tail.erase(0, tail.size() - kLongestTail);
}
