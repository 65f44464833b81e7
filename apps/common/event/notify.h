#pragma once
// The 12-byte record exchanged with the message broker, in the unit's native byte order.
#include <cstdint>

struct Notify {
  uint32_t event = 0;
  uint32_t a = 0;  // 1: the change concerns element b of an array variable
  uint32_t b = 0;
};
static_assert(sizeof(Notify) == 12);

// Control events of the broker protocol; variable change events follow from 6 on.
enum ControlEvent : uint32_t {
  EventInvalid = 0,
  EventSubscribe = 1,
  EventUnsubscribe = 2,
  EventSubscribeAll = 3,
  EventUnsubscribeAll = 4,
  EventCalibAllMotor = 5,
};
