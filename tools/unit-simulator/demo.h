#pragma once
// A unit in use: the motors move, the focus distance follows, the battery drains and is charged again.
#include <string>
#include <vector>

#include "tools/unit-simulator/variable.h"

class Demo {
 public:
  static constexpr int kStepsPerSecond = 4;

  // Reads the battery's level as the unit left it.
  Demo();
  // One quarter second further; every value that moved is stored and announced through its setter.
  void step();

 private:
  struct Motor {
    Variable row;  // the motor structure, whose ActPosition moves
    Variable normalised;
    int periodSteps;
  };
  std::vector<Motor> motors;
  Variable focusDistance{"MemDynamic", "LensActFocus"};
  Variable cameraFocusDistance{"MemCamera", "CamFocusDistanceMeter"};
  Variable batteryPercent{"MemDynamic", "BattPercent"};
  Variable batteryVoltage{"MemDynamic", "BattVoltage"};
  Variable batteryStatus{"MemDynamic", "BattStatus"};
  Variable powerState{"MemDynamic", "PowerState"};
  unsigned long steps = 0;
  int percent = 0;
  bool charging = false;
};
