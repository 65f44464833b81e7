#include "tools/unit-simulator/demo.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double kPi = 3.14159265358979;
constexpr int kRange = 16000;       // the motors' calibrated bounds, 0 to BndUpper
constexpr double kNearest = 0.45;   // metres at one end of the focus ring
constexpr double kFarthest = 20.0;  // and at the other
constexpr int kDrainSteps = 12;     // 3 s a percent on the battery
constexpr int kChargeSteps = 2;     // half a second a percent on the charger

std::string text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3g", value);
  return buffer;
}
}  // namespace

Demo::Demo() {
  motors.push_back({{"MemMotors", "FocusMotor"}, {"MemDynamic", "FocusActPosNorm"}, 14 * kStepsPerSecond});
  motors.push_back({{"MemMotors", "IrisMotor"}, {"MemDynamic", "IrisActPosNorm"}, 31 * kStepsPerSecond});
  motors.push_back({{"MemMotors", "ZoomMotor"}, {"MemDynamic", "ZoomActPosNorm"}, 22 * kStepsPerSecond});
  percent = batteryPercent.number();
}

void Demo::step() {
  ++steps;
  for (const Motor& motor : motors) {
    // A slow sweep over the whole ring, each motor at its own pace.
    double phase = 2 * kPi * static_cast<double>(steps % motor.periodSteps) / motor.periodSteps;
    double position = 0.5 - 0.5 * std::cos(phase);
    Introspection::setVarValueJson(motor.row.mem, motor.row.var,
                                   {{MEMORY_ARRAY[motor.row.mem].rows[motor.row.var].name, {"{...}", true}},
                                    {"ActPosition", {std::to_string(std::lround(position * kRange)), false}}},
                                   0);
    motor.normalised.set(text(position));
    if (&motor == &motors.front()) {
      // A focus ring is scaled in the inverse of the distance, so the near end takes most of the travel.
      double metres = 1 / (1 / kNearest + position * (1 / kFarthest - 1 / kNearest));
      focusDistance.set(text(metres));
      cameraFocusDistance.set(text(metres));
    }
  }
  if (steps % (charging ? kChargeSteps : kDrainSteps) != 0) return;
  percent += charging ? 1 : -1;
  // Plugged in when low, taken off once nearly full: the level goes round and round.
  if (percent <= 15 || percent >= 95) charging = percent <= 15;
  batteryPercent.set(std::to_string(percent));
  batteryVoltage.set(text(13.2 + 3.6 * percent / 100));
  batteryStatus.set(charging ? "1" : "0");
  powerState.set(charging ? "Usb" : "SmartBattery");
}
