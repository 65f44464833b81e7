#pragma once
// Where announcements of changed variables go: the broker connection in the service (set at start-up
// by gen::init), a recorder in tests.
#include <string>

#include "apps/common/event/notify.h"

class EventSink {
 public:
  virtual void postEvent(Notify const& notify) = 0;
  // Why a change could not be announced now; empty while it can.
  virtual std::string refusal() const { return {}; }

 protected:
  ~EventSink() = default;
};

// Null clears it: posting then fails.
void setEventSink(EventSink* sink);

// Posts through the sink; every variable setter announces its change with it.
void postEvent(Notify notify);

// The sink's refusal: a route that writes variables stores nothing while this is not empty, since a
// change the unit's other processes never hear of would leave them believing another value.
std::string postingRefusal();
// The answer of such a route while refused: nothing stored, and why.
std::string notStoredText(const std::string& refusal);
