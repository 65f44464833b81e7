#include "apps/common/introspection/introspection.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection/testdocument.h"
#include "apps/common/introspection/variabletext.h"

namespace {
// The library's compact object; bytes that are not UTF-8 replaced by U+FFFD the way it does that.
std::string libraryRendering(const std::string& value, const std::string& type, const std::string& min,
                             const std::string& max) {
  return nlohmann::json{{"value", value}, {"type", type}, {"min", min}, {"max", max}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The value objects inside one rendered variable must be exactly the library's compact serialisation
// of what they hold: the hand-written fast path may never differ from it.
void expectLibraryValueObjects(const nlohmann::json& value, const std::string& text, const std::string& where) {
  if (value.is_array()) {
    for (const auto& element : value) expectLibraryValueObjects(element, text, where);
    return;
  }
  if (!value.is_object()) return;
  if (value.size() == 4 && value.contains("max") && value.contains("min") && value.contains("type") &&
      value.contains("value")) {
    EXPECT_NE(text.find(value.dump()), std::string::npos) << where << ": " << value.dump();
    return;
  }
  for (const auto& [name, member] : value.items()) expectLibraryValueObjects(member, text, where + "." + name);
}

}  // namespace

TEST(Introspection, LooksUpMemoriesRowsAndEventsChecksEveryIndexAndReadsOnlyMappedValuesWithinTheirVariable) {
  EXPECT_EQ(Introspection::getMemCount(), 20u);
  EXPECT_EQ(Introspection::getMemIndex("MemApp"), 19u);
  EXPECT_EQ(failureMessage([] { Introspection::getMemIndex("memapp"); }), "Unknown memory \"memapp\"");

  EXPECT_EQ(Introspection::getVarCount(0), 140u);
  EXPECT_STREQ(Introspection::getVarName(0, 139), "ZoomTorque");
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

  // Events are named and lead to their last row, unknown numbers to the first.
  EXPECT_STREQ(eventName(Notify{EventCalibAllMotor, 0, 0}), "CalibAllMotor");
  EXPECT_STREQ(eventName(Notify{EVENT_NAME_SIZE - 1, 0, 0}), EVENT_NAME[EVENT_NAME_SIZE - 1]);
  for (uint32_t beyond : {EVENT_NAME_SIZE, 0xFFFFFFFFu}) EXPECT_STREQ(eventName(Notify{beyond, 0, 0}), "Invalid");
  // MemLens (5) repeats this row with the same event and place; the later memory is the one found.
  const RowRef marker = findRow("MemLensMarkers", "FocusMarkerClearValue");
  unsigned int mem = 99, var = 99;
  Introspection::getVarLocation(marker.info().event, mem, var);
  EXPECT_EQ(mem, 6u);
  EXPECT_EQ(var, marker.var);

  for (uint32_t unused : {0u, 5u, 0xffffffffu, EVENT_NAME_SIZE}) {
    mem = var = 99;
    Introspection::getVarLocation(Notify{unused, 0, 0}, mem, var);
    EXPECT_EQ(mem + var, 0u) << unused;
  }

  // Values of unmapped memories are not available.
  const RowRef torque = findRow("MemPersistent", "AUXTorque");
  ASSERT_EQ(*torque.info().memory, nullptr);
  EXPECT_EQ(torque.get(), "n/a");
  std::string text;
  appendVariable(text, torque.mem, torque.var);
  EXPECT_EQ(text, R"({"max":"4","min":"1","type":"int","value":"n/a"})");
  const RowRef speeds = findRow("MemCamera", "CamSpeedList");
  appendVariable(text, speeds.mem, speeds.var);
  EXPECT_EQ(text.substr(48, 7), "[n/a,n/");
  EXPECT_EQ(torque.set("3"), "n/a");
  EXPECT_EQ(Introspection::setVarValueJson(torque.mem, torque.var, {}, 0), "n/a");
  EXPECT_TRUE(takePostedEvents().empty());

  // Once mapped, getters are never asked for an element outside the variable.
  TestPayloads payloads;
  const RowRef motor = findRow("MemMotors", "FocusMotor");
  EXPECT_NE(speeds.get(119), "");
  for (const auto& [row, index] : {std::pair{speeds, 120}, {speeds, -1}, {motor, 1}, {torque, 1}})
    EXPECT_EQ(failureMessage([&row = row, index = index] { row.get(index); }), "Index exceeds limit")
        << row.var << " " << index;
}

TEST(Introspection, PrintValueIsTheLibrarysCompactObjectAndEscapePrefixesWhatThePatternMatches) {
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

  // Escaping prefixes what the set pattern matches.
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\"b\\c");  // no pattern yet
  Introspection::setEscapeCharacters("[\\\\\"]");
  EXPECT_EQ(Introspection::escape("a\"b\\c"), "a\\\"b\\\\c");
  Introspection::setEscapeCharacters("");
  EXPECT_EQ(Introspection::escape("a\"b"), "a\"b");
}

TEST(Document, EveryVariableOfTheStartValuesIsValidJsonAndReadsBackInItsPlace) {
  TestPayloads payloads;
  EXPECT_EQ(storeDefaultValues(), "");
  // Every row but floats and structures reads back its start value as written.
  std::string tree;
  appendVariableTree(tree);
  EXPECT_EQ(tree.find("{\"error\""), std::string::npos);
  const nlohmann::json document = nlohmann::json::parse("{" + tree + "}");
  EXPECT_EQ(document.size(), MEMORY_ARRAY_SIZE);
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    const nlohmann::json& memory = document.at(MEMORY_ARRAY[mem].name);
    EXPECT_EQ(memory.size(), MEMORY_ARRAY[mem].count) << MEMORY_ARRAY[mem].name;
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
      std::string text;
      appendVariable(text, mem, var);
      const nlohmann::json& value = memory.at(row.name);
      expectLibraryValueObjects(value, text, std::string(MEMORY_ARRAY[mem].name) + "." + row.name);
      if (row.baseType == BaseStruct && row.isArray) {
        EXPECT_EQ(value.size(), std::stoul(row.arrayLength)) << row.name;
      } else if (row.baseType == BaseStruct) {
        EXPECT_EQ(value.size(), row.fields->size()) << row.name;
      } else {
        EXPECT_EQ(value.at("type"), row.baseType == BaseBuffer ? "string" : row.typeName) << row.name;
        if (row.baseType != BaseFloat) {
          const char* start = DEFAULT_VALUE_ARRAY[mem][var];
          EXPECT_EQ(value.at("value"), start ? start : "(none)") << row.name;
        }
      }
    }
  }
  EXPECT_EQ(document["MemExternalDevices"]["PeltDeviceList"][0]["PeltDeviceConnected"]["value"], "true");
  takePostedEvents();
}
