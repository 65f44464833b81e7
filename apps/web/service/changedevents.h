#pragma once
// The change events received, two ways: one bit per event number, consumed by each document of the
// clients that take whatever changed since the last pass; and a numbered change feed, the sequence at
// which each event last changed, from which a client that names the last change it has seen gets
// every variable changed after it.
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gen/code/introspection_gen.h"

class ChangedEvents {
 public:
  static constexpr uint32_t kEventCount = EVENT_NAME_SIZE;

  // start: the first sequence, the process's start in microseconds since the epoch, so that numbers
  // handed out by an earlier process lie below it and are never taken for this one's.
  explicit ChangedEvents(uint64_t start);
  // Starts at the realtime clock's now.
  ChangedEvents();

  // A number outside the event table has no bit; the caller learns so from the result.
  // Every marked event takes the next sequence.
  bool mark(uint32_t event);
  bool any() const;
  bool isMarked(uint32_t event) const;

  // Everything of the update document after its "id" line: the error list and the changed
  // variables grouped by memory in event order. Clears every mark it renders.
  std::string takeDocument();

  // The newest change received (the start while none came).
  uint64_t sequence() const { return current; }
  // Whether every change after `since` is known here: not before the start or a forgotten gap, not
  // beyond the newest change.
  bool vouchesFor(uint64_t since) const { return since >= floor && since <= current; }
  // Changes before `first` may have been missed (the broker was away): clients behind it must load the
  // whole state again. The sequence is raised to `first` when it lies below, so that the whole state
  // read afterwards carries a sequence this object vouches for. After a gap: forgetBefore(sequence() + 1).
  void forgetBefore(uint64_t first);
  // Whether a variable (not merely an event that names none) changed after `since`.
  bool changedSince(uint64_t since) const { return newestVariableChange > since; }
  // The same part of an update document for every variable changed after `since`: each variable
  // once, in catalogue order, one member per memory. Marks are left alone.
  std::string documentSince(uint64_t since) const;

 private:
  uint64_t current;
  uint64_t floor;
  uint64_t newestVariableChange = 0;
  // The sequence of each event's last change; 0 for none, which lies below every start.
  std::array<uint64_t, kEventCount> changedAt{};
  std::bitset<kEventCount> namesVariable;
  std::array<uint32_t, (kEventCount + 31) / 32> words{};
};

// The value of "since" in an update request's query: none without one, 0 (which no process vouches
// for) when it is not a decimal number that fits.
std::optional<uint64_t> sinceInQuery(std::string_view query);
