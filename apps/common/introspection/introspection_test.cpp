#include "apps/common/introspection/introspection.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "apps/common/introspection/testcatalogue.h"

namespace {
// The library's compact object; bytes that are not UTF-8 replaced by U+FFFD the way it does that.
std::string libraryRendering(const std::string& value, const std::string& type, const std::string& min,
                             const std::string& max) {
  return nlohmann::json{{"value", value}, {"type", type}, {"min", min}, {"max", max}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
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
  ASSERT_TRUE(copy.info().memory == marker.info().memory && copy.info().offset == marker.info().offset);

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
  EXPECT_EQ(torque.get(), "n/a");
  EXPECT_EQ(torque.set("3"), "n/a");
  EXPECT_EQ(Introspection::setVarValueJson(torque.mem, torque.var, {}, 0), "n/a");
  EXPECT_STREQ(Introspection::getVarName(torque.mem, torque.var), "AUXTorque");
  EXPECT_TRUE(takePostedEvents().empty());
}

TEST(Introspection, GettersAreNeverAskedForAnElementOutsideTheVariable) {
  TestPayloads payloads;
  const RowRef speeds = findRow("MemCamera", "CamSpeedList");
  const RowRef motor = findRow("MemMotors", "FocusMotor");
  const RowRef torque = findRow("MemPersistent", "AUXTorque");
  EXPECT_NE(speeds.get(119), "");
  EXPECT_EQ(failureMessage([&] { speeds.get(120); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { speeds.get(-1); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { motor.get(1); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([&] { torque.get(1); }), "Index exceeds limit");
}

TEST(Introspection, PrintValueIsTheLibrarysCompactObject) {
  EXPECT_EQ(Introspection::printValue("3", "int", "1", "4"), R"({"max":"4","min":"1","type":"int","value":"3"})");

  // Every single byte alone and inside text, valid text and the hostile sequences render as the library
  // serialises them: valid text unchanged, each maximal ill-formed part as one U+FFFD.
  std::vector<std::string> values = {"gr\xc3\xbc\xc3\x9f \xe2\x82\xac \"q\" \\ \xf0\x9f\x98\x80", hostileBytes()};
  for (int byte = 0; byte < 256; ++byte) {
    values.push_back(std::string(1, char(byte)));
    values.push_back(std::string{'a', char(byte), 'b'});
  }
  for (const std::string& value : values) {
    const std::string rendered = Introspection::printValue(value, "string", "0", "0");
    EXPECT_EQ(rendered, libraryRendering(value, "string", "0", "0")) << value;
    EXPECT_EQ(Introspection::printValue("1", value, value, value), libraryRendering("1", value, value, value));
  }
}

TEST(Introspection, EscapePrefixesWhatTheSetPatternMatches) {
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\"b\\c");  // no pattern yet
  Introspection::setEscapeCharacters("[\\\\\"]");
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\\\"b\\\\c");
  Introspection::setEscapeCharacters("");
  EXPECT_EQ(Introspection::escape("a\"b"), "a\"b");
}
