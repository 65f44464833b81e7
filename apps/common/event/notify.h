#pragma once
// The 12-byte record exchanged with the message broker, in the unit's native byte order.
#include <cstdint>

struct Notify {
  uint32_t event = 0;
  uint32_t a = 0;  // 1: the change concerns element b of an array variable
  uint32_t b = 0;
};
static_assert(sizeof(Notify) == 12);

// Control events of the broker protocol, numbered from 0 in this order; variable change events follow from 6 on.
enum ControlEvent : uint32_t {
  EventInvalid,
  EventSubscribe,
  EventUnsubscribe,
  EventSubscribeAll,
  EventUnsubscribeAll,
  EventCalibAllMotor
};
