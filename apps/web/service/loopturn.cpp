#include "apps/web/service/loopturn.h"

#include <time.h>

#include "apps/common/log/log.h"

LoopTurn& LoopTurn::current() {
  static LoopTurn turn;
  return turn;
}

void LoopTurn::note(std::string_view what) {
  if (names.size() >= kMaxNamesLength) return;
  if (!names.empty()) names += ", ";
  // A path comes from the network: printable bytes only, so that it cannot break the line.
  for (char c : what.substr(0, kMaxNamesLength - names.size())) names += c >= ' ' && c < 0x7f ? c : '?';
}

std::chrono::microseconds LoopTurn::processorTime() {
  timespec used{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return std::chrono::seconds(used.tv_sec) + std::chrono::microseconds(used.tv_nsec / 1000);
}

void LoopTurn::end(Clock::time_point began, Clock::time_point now) {
  const auto length = std::chrono::duration_cast<std::chrono::microseconds>(now - began);
  const auto processor = processorTime();
  const auto worked = processor - processorAtEnd;
  processorAtEnd = processor;
  const char* served = names.empty() ? "connection input and output" : names.c_str();
  if (length > kWarnAbove)
    LOG(Warn, "A turn of the loop took %lld ms, %lld ms processor: %s", static_cast<long long>(length.count() / 1000),
        static_cast<long long>(worked.count() / 1000), served);
  else if (length >= kMeasureFrom)
    LOG(DebugLight, "Loop turn of %lld us, %lld us processor: %s", static_cast<long long>(length.count()),
        static_cast<long long>(worked.count()), served);
  names.clear();
}
