// Every variable rendered the way the whole-state document holds it, over the simulator's start values.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection/testdocument.h"
#include "apps/common/introspection/variabletext.h"

namespace {
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

// Every row but floats and structures reads back its start value as written.
nlohmann::json checkStartValueDocument() {
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
  return document;
}
}  // namespace

TEST(Document, EveryVariableOfTheStartValuesIsValidJsonAndReadsBackInItsPlace) {
  TestPayloads payloads;
  EXPECT_EQ(storeDefaultValues(), "");
  const nlohmann::json document = checkStartValueDocument();
  EXPECT_EQ(document["MemExternalDevices"]["PeltDeviceList"][0]["PeltDeviceConnected"]["value"], "true");
  takePostedEvents();
}

TEST(Document, UnmappedMemoriesRenderFromNotAvailable) {
  std::string text;
  appendVariable(text, 0, 0);
  EXPECT_EQ(text, R"({"max":"4","min":"1","type":"int","value":"n/a"})");
  text.clear();
  const RowRef speeds = findRow("MemCamera", "CamSpeedList");
  appendVariable(text, speeds.mem, speeds.var);
  EXPECT_EQ(text.substr(0, 7), "[n/a,n/");
}
