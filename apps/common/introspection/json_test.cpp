#include "apps/common/introspection/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// The members in order, "name=value" for plain values and "name:value" for nested objects and arrays.
std::string pairs(const Json& json) {
  std::string out;
  for (const auto& [name, value] : json.members) out += name + (value.isObject ? ":" : "=") + value.value + ";";
  return out;
}
}  // namespace

TEST(Json, SplitsOneLevelAndReportsTheFirstRefusedCharacter) {
  const struct {
    std::string text;
    bool accepted;
    int errorPosition;
    std::string pairs;
  } cases[] = {
      {"{'a':'1','b':2}", true, -1, "a=1;b=2;"},
      {"{\"a\":\"1\"}", true, -1, "a=1;"},
      {"[1, 2]", true, -1, "=1;=2;"},
      {" { 'a' :\t'x' ,\r\n b:7 } ", true, -1, "a=x;b=7;"},
      {"{'a b':1}", false, 4, ""},
      {"{'a':'x'y}", false, 8, "a=x;"},
      {"{'a':1", true, -1, ""},
      {"", true, -1, ""},
      {"{}", true, -1, ""},
      {"x", false, 0, ""},
      {"{'a':1} x", false, 8, "a=1;"},
      {"{'a' 'b':1}", false, 5, ""},
      // No escapes in quoted values: a backslash is plain text and the other quote kind is kept.
      {"{'a':'say \"hi\"\\'}", true, -1, "a=say \"hi\"\\;"},
      {"{'a':\"it's\"}", true, -1, "a=it's;"},
      // Brackets inside a nested value are counted without regard to quotes, and only its own kind.
      {"{'a':{'b':'}'}}", false, 12, "a:{'b':'};"},
      {"{'a':[1,{'x':[2]}],'c':3}", true, -1, "a:[1,{'x':[2]}];c=3;"},
      {"{'a':{'b':[}}", true, -1, "a:{'b':[};"},
  };
  for (const auto& c : cases) {
    Json json;
    EXPECT_EQ(json.parse(c.text), c.accepted) << c.text;
    EXPECT_EQ(json.errorPosition, c.errorPosition) << c.text;
    EXPECT_EQ(pairs(json), c.pairs) << c.text;
  }
}

// Each phase its own parser: what one parse leaves behind is what the next one sees.
TEST(Json, LaterParsesAppendToTheSameMembersAndKeepTheOuterKindButNoUnfinishedPair) {
  Json json;
  ASSERT_TRUE(json.parse("{'MemPersistent':{'AUXTorque':'3'}}"));
  ASSERT_EQ(pairs(json), "MemPersistent:{'AUXTorque':'3'};");
  ASSERT_TRUE(json.parse(json.members.back().second.value));
  EXPECT_EQ(pairs(json), "MemPersistent:{'AUXTorque':'3'};AUXTorque=3;");
  EXPECT_EQ(json.errorPosition, -1);
  // A failing second parse keeps everything completed before it and reports its own position.
  EXPECT_FALSE(json.parse("{'x':1 y}"));
  EXPECT_EQ(json.errorPosition, 7);
  EXPECT_EQ(pairs(json), "MemPersistent:{'AUXTorque':'3'};AUXTorque=3;x=1;");

  Json array;
  ASSERT_TRUE(array.parse("[{'a':1}]"));
  ASSERT_EQ(pairs(array), ":{'a':1};");
  // The outermost level stays an array: the quoted 'a' is read as a value and the colon is refused.
  EXPECT_FALSE(array.parse(array.members.back().second.value));
  EXPECT_EQ(array.errorPosition, 4);

  Json cut;
  EXPECT_TRUE(cut.parse("{'first':'abc"));
  EXPECT_TRUE(cut.parse("{'b':1}"));
  EXPECT_EQ(pairs(cut), "b=1;");
}
