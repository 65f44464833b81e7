#include "apps/common/introspection/introspection.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>

#include "apps/common/introspection/testcatalogue.h"

namespace {
std::string libraryRendering(const std::string& value, const std::string& type, const std::string& min,
                             const std::string& max) {
  return nlohmann::json{{"value", value}, {"type", type}, {"min", min}, {"max", max}}.dump();
}
TEST(EventName, NamesKnownNumbersAndNeverReadsPastTheTable) {
  EXPECT_STREQ(eventName(Notify{EventCalibAllMotor, 0, 0}), "CalibAllMotor");
  EXPECT_STREQ(eventName(Notify{EVENT_NAME_SIZE - 1, 0, 0}), EVENT_NAME[EVENT_NAME_SIZE - 1]);
  EXPECT_STREQ(eventName(Notify{EVENT_NAME_SIZE, 0, 0}), "Invalid");
  EXPECT_STREQ(eventName(Notify{0xFFFFFFFFu, 0, 0}), "Invalid");
}

}  // namespace

TEST(Introspection, LooksUpMemoriesAndRowsAndChecksEveryIndex) {
  EXPECT_EQ(Introspection::getMemCount(), 20u);
  EXPECT_STREQ(Introspection::getMemName(0), "MemPersistent");
  EXPECT_EQ(Introspection::getMemIndex("MemApp"), 19u);
  EXPECT_EQ(failureMessage([] { Introspection::getMemIndex("memapp"); }), "Unknown memory \"memapp\"");
  EXPECT_EQ(failureMessage([] { Introspection::getMemIndex(""); }), "Unknown memory \"\"");

  EXPECT_EQ(Introspection::getVarCount(0), 140u);
  EXPECT_STREQ(Introspection::getVarName(0, 0), "AUXTorque");
  EXPECT_STREQ(Introspection::getVarName(0, 139), "ZoomTorque");
  EXPECT_STREQ(Introspection::getVarType(0, 0), "int");
  EXPECT_EQ(Introspection::getVarBaseType(0, 0), static_cast<unsigned int>(BaseInt));
  EXPECT_EQ(Introspection::getVarArrayLen(0, 0), nullptr);
  EXPECT_EQ(Introspection::getVarEvent(0, 0).event, findRow("MemPersistent", "AUXTorque").info().event.event);

  const std::function<void()> outOfRange[] = {
      [] { Introspection::getVarName(20, 0); },        [] { Introspection::getVarName(0, 140); },
      [] { Introspection::getMemName(20); },           [] { Introspection::getVarCount(20); },
      [] { Introspection::getVarType(19, 17); },       [] { Introspection::getVarBaseType(0xffffffffu, 0); },
      [] { Introspection::getVarArrayLen(18, 1); },    [] { Introspection::isArray(0, 140); },
      [] { Introspection::getVarEvent(0, 140); },      [] { Introspection::getVarValue(0, 140, 0); },
      [] { Introspection::setVarValue(0, 140, "1"); }, [] { Introspection::setVarValueJson(0, 140, {}, 0); },
      [] { Introspection::getVarMin(0, 140); },        [] { Introspection::getVarMax(0, 140); },
  };
  for (const auto& action : outOfRange) EXPECT_EQ(failureMessage(action), "Index exceeds limit");
}

TEST(Introspection, EventsLeadToTheirLastRowAndUnknownNumbersToTheFirst) {
  const RowRef marker = findRow("MemLensMarkers", "FocusMarkerClearValue");
  const RowRef copy = findRow("MemLens", "FocusMarkerClearValue");
  ASSERT_EQ(copy.info().event.event, marker.info().event.event);
  ASSERT_EQ(copy.info().memory, marker.info().memory);

  unsigned int mem = 99, var = 99;
  Introspection::getVarLocation(marker.info().event, mem, var);
  EXPECT_EQ(mem, 6u);
  EXPECT_EQ(var, marker.var);

  for (uint32_t unused : {0u, 5u, 0xffffffffu, EVENT_NAME_SIZE}) {
    mem = var = 99;
    Introspection::getVarLocation(Notify{unused, 0, 0}, mem, var);
    EXPECT_EQ(mem, 0u) << unused;
    EXPECT_EQ(var, 0u) << unused;
  }
}

TEST(Introspection, ValuesOfUnmappedMemoriesAreNotAvailable) {
  const RowRef torque = findRow("MemPersistent", "AUXTorque");
  ASSERT_EQ(*torque.info().memory, nullptr);
  EXPECT_EQ(Introspection::getVarValue(torque.mem, torque.var, 0), "n/a");
  EXPECT_EQ(Introspection::setVarValue(torque.mem, torque.var, "3"), "n/a");
  EXPECT_EQ(Introspection::setVarValueJson(torque.mem, torque.var, {}, 0), "n/a");
  EXPECT_STREQ(Introspection::getVarName(torque.mem, torque.var), "AUXTorque");
  EXPECT_TRUE(takePostedEvents().empty());
}

TEST(Introspection, GettersAreNeverAskedForAnElementOutsideTheVariable) {
  TestPayloads payloads;
  const RowRef speeds = findRow("MemCamera", "CamSpeedList");
  const RowRef motor = findRow("MemMotors", "FocusMotor");
  const RowRef torque = findRow("MemPersistent", "AUXTorque");
  EXPECT_NE(Introspection::getVarValue(speeds.mem, speeds.var, 119), "");
  EXPECT_EQ(failureMessage([&] { Introspection::getVarValue(speeds.mem, speeds.var, 120); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { Introspection::getVarValue(speeds.mem, speeds.var, -1); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { Introspection::getVarValue(motor.mem, motor.var, 1); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { Introspection::getVarValue(torque.mem, torque.var, 1); }), "Index exceeds limit");
}

TEST(Introspection, PrintValueIsTheLibrarysCompactObject) {
  EXPECT_EQ(Introspection::printValue("3", "int", "1", "4"), R"({"max":"4","min":"1","type":"int","value":"3"})");

  // Every single byte, alone and inside text, renders exactly as the library serialises it; bytes that
  // are not UTF-8 make both fail with the library's exception.
  for (int byte = 0; byte < 256; ++byte) {
    for (const std::string& value : {std::string(1, char(byte)), "a" + std::string(1, char(byte)) + "b"}) {
      std::string expected;
      try {
        expected = libraryRendering(value, "string", "0", "0");
      } catch (const nlohmann::json::exception&) {
        EXPECT_THROW(Introspection::printValue(value, "string", "0", "0"), nlohmann::json::type_error) << byte;
        continue;
      }
      EXPECT_EQ(Introspection::printValue(value, "string", "0", "0"), expected) << byte;
      EXPECT_EQ(Introspection::printValue("1", value, "0", "0"), libraryRendering("1", value, "0", "0")) << byte;
      EXPECT_EQ(Introspection::printValue("1", "int", value, "0"), libraryRendering("1", "int", value, "0"));
      EXPECT_EQ(Introspection::printValue("1", "int", "0", value), libraryRendering("1", "int", "0", value));
    }
  }
  const std::string utf8 = "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \"q\" \\";
  EXPECT_EQ(Introspection::printValue(utf8, "string", "", ""), libraryRendering(utf8, "string", "", ""));
  EXPECT_THROW(Introspection::printValue("\xc3", "string", "0", "0"), nlohmann::json::type_error);
}

TEST(Introspection, EscapePrefixesEveryMatchOfThePattern) {
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\"b\\c");
  Introspection::setEscapeCharacters("[\\\\\"]");
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(Introspection::escape(""), "");
  EXPECT_EQ(Introspection::escape("\"\""), "\\\"\\\"");
  Introspection::setEscapeCharacters("ab");
  EXPECT_EQ(Introspection::escape("xaby"), "x\\aby");
  // A pattern that does not compile leaves the one before in force.
  EXPECT_THROW(Introspection::setEscapeCharacters("[unclosed"), std::regex_error);
  EXPECT_EQ(Introspection::escape("xaby"), "x\\aby");
  Introspection::setEscapeCharacters("");
  EXPECT_EQ(Introspection::escape("a\"b"), "a\"b");
}
