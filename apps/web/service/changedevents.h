#pragma once
// The change events received since the last update document, one bit per event number,
// and the rendering of the variables they name into that document.
#include <array>
#include <cstdint>
#include <string>

#include "gen/code/introspection_gen.h"

class ChangedEvents {
 public:
  static constexpr uint32_t kEventCount = EVENT_NAME_SIZE;

  // A number outside the event table has no bit; the caller learns so from the result.
  bool mark(uint32_t event);
  bool any() const;
  bool isMarked(uint32_t event) const;

  // Everything of the update document after its "id" line: the error list and the changed
  // variables grouped by memory in event order. Clears every mark it renders.
  std::string takeDocument();

 private:
  std::array<uint32_t, (kEventCount + 31) / 32> words{};
};
