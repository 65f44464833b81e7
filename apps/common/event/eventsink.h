#pragma once
// Where announcements of changed variables go: the broker connection in the service (set at start-up
// by gen::init), a recorder in tests.
#include "apps/common/event/notify.h"

class EventSink {
 public:
  virtual void postEvent(Notify const& notify) = 0;

 protected:
  ~EventSink() = default;
};

// Null clears it: posting then fails.
void setEventSink(EventSink* sink);

// Posts through the sink; every variable setter announces its change with it.
void postEvent(Notify notify);
