#include "apps/web/service/loopturn.h"

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

void LoopTurn::end(Clock::time_point began, Clock::time_point now) {
  const auto length = std::chrono::duration_cast<std::chrono::microseconds>(now - began);
  const char* served = names.empty() ? "connection input and output" : names.c_str();
  if (length > kWarnAbove)
    LOG(Warn, "A turn of the loop took %lld ms: %s", static_cast<long long>(length.count() / 1000), served);
  else if (length >= kMeasureFrom)
    LOG(DebugLight, "Loop turn of %lld us: %s", static_cast<long long>(length.count()), served);
  names.clear();
}
