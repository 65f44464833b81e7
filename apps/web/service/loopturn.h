#pragma once
// How long each turn of the loop holds it, and what it served. A turn longer than kWarnAbove writes a
// Warn line naming what it served, so that a slow unit in the field tells on itself; every turn from
// kMeasureFrom on writes a DebugLight line with its length and the processor time it took, which tells
// the service's own work from time the system gave to others, for measuring.
#include <chrono>
#include <string>
#include <string_view>

class LoopTurn {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kWarnAbove{100};
  static constexpr std::chrono::milliseconds kMeasureFrom{1};

  // The turn of the loop that runs now; handlers name what they serve in it.
  static LoopTurn& current();

  // Names a part of the turn's work (a route's script and path), shown if the turn is reported.
  void note(std::string_view what);
  // The turn began (the poll woke) at began and ends now: reports it when due, and starts the next.
  // The processor time is counted from the previous end: the wait between turns takes next to none.
  void end(Clock::time_point began, Clock::time_point now = Clock::now());

 private:
  static constexpr size_t kMaxNamesLength = 240;
  static std::chrono::microseconds processorTime();
  std::string names;
  std::chrono::microseconds processorAtEnd = processorTime();
};
