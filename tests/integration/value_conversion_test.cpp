// Texts becoming stored values and values becoming texts, through the running service's write and
// whole-state scripts.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/sandbox_harness.h"
#include "tests/integration/variable_api_support.h"

namespace {
const std::string kStored = "{\"result\": 1 }";

std::string refused(const std::string& error) { return "{\"result\": 0, \"error\": \"" + error + "\" }"; }

std::string write(fcgiclient::FcgiClient& client, const std::string& memory, const std::string& variable,
                  const std::string& value) {
  return call(client, kSet, "{'" + memory + "':{'" + variable + "':'" + value + "'}}");
}

std::string shown(fcgiclient::FcgiClient& client, const std::string& memory, const std::string& variable) {
  return wholeState(client)["variables"][memory][variable]["value"];
}

TEST(ValueConversion, ScalarTextsAreConvertedOrRefusedWithTheirMessage) {
  Sandbox unit;
  auto client = connectService(unit);

  const std::pair<const char*, const char*> ints[] = {{"0x10", "16"}, {"010", "8"}, {" 7", "7"}, {"7x", "7"}};
  for (const auto& [text, value] : ints) {
    EXPECT_EQ(write(*client, "MemPersistent", "AUXTorque", text), kStored) << text;
    EXPECT_EQ(shown(*client, "MemPersistent", "AUXTorque"), value) << text;
  }
  for (const char* text : {"x7", "4294967296"}) {
    EXPECT_EQ(write(*client, "MemPersistent", "AUXTorque", text),
              refused(std::string("Can't convert ") + text + " to int"));
  }
  EXPECT_EQ(shown(*client, "MemPersistent", "AUXTorque"), "7");

  EXPECT_EQ(write(*client, "MemPersistent", "CircleofConfusion", "2.5"), kStored);
  EXPECT_EQ(write(*client, "MemPersistent", "CircleofConfusion", "1e-50"), refused("Can't convert 1e-50 to float"));
  EXPECT_EQ(shown(*client, "MemPersistent", "CircleofConfusion"), "2.500000");

  EXPECT_EQ(write(*client, "MemPersistent", "BluetoothPower", "True"), refused("Value has to be 'true' or 'false'"));
  EXPECT_EQ(write(*client, "MemApp", "AppLensLogLevel", "warn"), refused("warn is not part of enum LogLevel"));

  const std::string text(80, 'v');
  EXPECT_EQ(write(*client, "MemStatic", "ModemVersionString", text), kStored);
  EXPECT_EQ(shown(*client, "MemStatic", "ModemVersionString"), std::string(49, 'v'));
}

TEST(ValueConversion, BuffersAreHexPairsAndABadDigitKeepsWhatWasStoredBeforeIt) {
  Sandbox unit;
  auto client = connectService(unit);
  const struct {
    const char* text;
    std::string answer;
    const char* shown;
  } cases[] = {
      {"A0ff", kStored, "a0ff"},
      {"abc", kStored, "abc0"},
      {"a", kStored, "a0c0"},
      {"0g12", refused("Can't convert 0g12 to buffer"), "a0c0"},
      {"120g", refused("Can't convert 0g to buffer"), "12c0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(write(*client, "MemGuiLocal", "KnobAssignmentFlags", c.text), c.answer) << c.text;
    EXPECT_EQ(shown(*client, "MemGuiLocal", "KnobAssignmentFlags"), c.shown) << c.text;
  }
  EXPECT_EQ(wholeState(*client)["variables"]["MemGuiLocal"]["KnobAssignmentFlags"]["type"], "string");
  EXPECT_TRUE(unit.waitForKmsg("Not a valid hex digit: g"));
}

TEST(ValueConversion, StructureFieldWritesStayInsideTheVariable) {
  Sandbox unit;
  auto client = connectService(unit);
  const auto before = wholeState(*client)["variables"];
  EXPECT_EQ(call(*client, kSet, "{'MemDistanceMeasure':{'CdmCoordinatesList':{'Index':3,'CdmX':'1.5'}}}"), kStored);
  for (const char* index : {"128", "-1"}) {
    EXPECT_EQ(call(*client, kSet,
                   std::string("{'MemDistanceMeasure':{'CdmCoordinatesList':{'Index':") + index + ",'CdmX':'2'}}}"),
              refused("Index exceeds limit"))
        << index;
  }
  EXPECT_EQ(call(*client, kSet, "{'MemMotors':{'FocusMotor':{'Index':1,'ActPosition':'5'}}}"),
            refused("Index exceeds limit"));

  const auto after = wholeState(*client)["variables"];
  EXPECT_EQ(after["MemDistanceMeasure"]["CdmCoordinatesList"][3]["CdmX"]["value"], "1.500000");
  auto expected = before;
  expected["MemDistanceMeasure"]["CdmCoordinatesList"][3]["CdmX"]["value"] = "1.500000";
  EXPECT_EQ(after, expected);
}
}  // namespace
