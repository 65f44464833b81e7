// The simulated unit's values at start and while the demo moves them, with every move announced as the
// unit's processes announce theirs. (That no value leaves its bounds is checked on the running unit.)
#include "tools/unit-simulator/startvalues.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "apps/common/introspection/testcatalogue.h"
#include "tools/unit-simulator/demo.h"

namespace {
std::string text(const Variable& variable) { return Introspection::getVarValue(variable.mem, variable.var, 0); }
}  // namespace

TEST(SimulatedUnit, StartsWithIdentityAndAccessoriesAndTheDemoMovesAndAnnounces) {
  TestPayloads payloads;
  ASSERT_EQ(storeStartValues(), "");
  for (const Variable& identity : {Variable("MemPersistent", "ProductName"),
                                   Variable("MemPersistent", "ProductVersion"), Variable("MemStatic", "ProductSerial")})
    EXPECT_NE(text(identity), "");
  int connected = 0;
  const Variable devices("MemExternalDevices", "PeltDeviceList");
  for (int i = 0; i < 16; ++i)
    connected += nlohmann::json::parse(
                     Introspection::getVarValue(devices.mem, devices.var, i))["PeltDeviceConnected"]["value"] == "true";
  EXPECT_GE(connected, 2);
  EXPECT_LE(connected, 3);

  // Half a minute of demo: each moving value changes, and each change is announced.
  takePostedEvents();
  Demo demo;
  const Variable battery("MemDynamic", "BattPercent"), focus("MemMotors", "FocusMotor"),
      distance("MemDynamic", "LensActFocus"), power("MemDynamic", "PowerState");
  const int startPercent = battery.number();
  std::set<uint32_t> announced;
  std::set<std::string> distances;
  for (int i = 0; i < 30 * Demo::kStepsPerSecond; ++i) {
    demo.step();
    for (const Notify& notify : takePostedEvents()) announced.insert(notify.event);
    distances.insert(text(distance));
  }
  for (const Variable* moved : {&battery, &focus, &distance})
    EXPECT_EQ(announced.count(moved->event()), 1u) << MEMORY_ARRAY[moved->mem].rows[moved->var].name;
  EXPECT_EQ(battery.number(), startPercent - 30 / 3);
  EXPECT_GT(distances.size(), 20u);
  for (const std::string& metres : distances) {
    EXPECT_GE(std::stod(metres), 0.45);
    EXPECT_LE(std::stod(metres), 20);
  }

  // Drained to the low mark, the unit is put on the charger and charges until nearly full.
  for (int i = 0; i < 600 * Demo::kStepsPerSecond && text(power) != "Usb"; ++i) demo.step();
  EXPECT_EQ(battery.number(), 15);
  for (int i = 0; i < 60 * Demo::kStepsPerSecond && text(power) == "Usb"; ++i) demo.step();
  EXPECT_EQ(battery.number(), 95);
  EXPECT_EQ(text(power), "SmartBattery");
}
