#include "apps/common/introspection/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct Pair {
  std::string name;
  std::string value;
  bool isObject;
  bool operator==(const Pair&) const = default;
};

std::vector<Pair> pairs(const Json& json) {
  std::vector<Pair> out;
  for (const auto& [name, value] : json.members) out.push_back({name, value.value, value.isObject});
  return out;
}

void PrintTo(const Pair& p, std::ostream* os) { *os << "(" << p.name << ", " << p.value << ", " << p.isObject << ")"; }

struct Case {
  std::string text;
  bool accepted;
  int errorPosition;
  std::vector<Pair> pairs;
};
}  // namespace

TEST(Json, SplitsOneLevelAndReportsTheFirstRefusedCharacter) {
  const std::vector<Case> cases = {
      {"{'a':'1','b':2}", true, -1, {{"a", "1", false}, {"b", "2", false}}},
      {"{\"a\":\"1\"}", true, -1, {{"a", "1", false}}},
      {"[1, 2]", true, -1, {{"", "1", false}, {"", "2", false}}},
      {"{'a' : 1}", true, -1, {{"a", "1", false}}},
      {" { 'a' :\t'x' ,\r\n b:7 } ", true, -1, {{"a", "x", false}, {"b", "7", false}}},
      {"{'a b':1}", false, 4, {}},
      {"{'a':'x'y}", false, 8, {{"a", "x", false}}},
      {"{'a':1", true, -1, {}},
      {"", true, -1, {}},
      {"{}", true, -1, {}},
      {"x", false, 0, {}},
      {"{'a':1} x", false, 8, {{"a", "1", false}}},
      {"{'a' 'b':1}", false, 5, {}},
      // No escapes in quoted values: a backslash is plain text and the other quote kind is kept.
      {"{'a':'say \"hi\"\\'}", true, -1, {{"a", "say \"hi\"\\", false}}},
      {"{'a':\"it's\"}", true, -1, {{"a", "it's", false}}},
      // Brackets inside a nested value are counted without regard to quotes, and only its own kind.
      {"{'a':{'b':'}'}}", false, 12, {{"a", "{'b':'}", true}}},
      {"{'a':[1,{'x':[2]}],'c':3}", true, -1, {{"a", "[1,{'x':[2]}]", true}, {"c", "3", false}}},
      {"{'a':{'b':[}}", true, -1, {{"a", "{'b':[}", true}}},
  };
  for (const auto& c : cases) {
    Json json;
    EXPECT_EQ(json.parse(c.text), c.accepted) << c.text;
    EXPECT_EQ(json.errorPosition, c.errorPosition) << c.text;
    EXPECT_EQ(pairs(json), c.pairs) << c.text;
  }
}

TEST(Json, ParsingANestedValueAgainAppendsToTheSameMembers) {
  Json json;
  ASSERT_TRUE(json.parse("{'MemPersistent':{'AUXTorque':'3'}}"));
  ASSERT_EQ(pairs(json), (std::vector<Pair>{{"MemPersistent", "{'AUXTorque':'3'}", true}}));
  ASSERT_TRUE(json.parse(json.members.back().second.value));
  EXPECT_EQ(pairs(json), (std::vector<Pair>{{"MemPersistent", "{'AUXTorque':'3'}", true}, {"AUXTorque", "3", false}}));
  EXPECT_EQ(json.errorPosition, -1);

  // A failing second parse keeps everything completed before it and reports its own position.
  EXPECT_FALSE(json.parse("{'x':1 y}"));
  EXPECT_EQ(json.errorPosition, 7);
  EXPECT_EQ(json.members.size(), 3u);
  EXPECT_EQ(json.members.back().first, "x");
}

TEST(Json, AnOuterArrayMakesLaterObjectsReadAsValueLists) {
  Json json;
  ASSERT_TRUE(json.parse("[{'a':1}]"));
  ASSERT_EQ(pairs(json), (std::vector<Pair>{{"", "{'a':1}", true}}));
  // The outermost level stays an array: the quoted 'a' is read as a value and the colon is refused.
  EXPECT_FALSE(json.parse(json.members.back().second.value));
  EXPECT_EQ(json.errorPosition, 4);
}

TEST(Json, AnUnfinishedPairOfACutTextDoesNotLeakIntoTheNextParse) {
  Json json;
  EXPECT_TRUE(json.parse("{'first':'abc"));
  EXPECT_TRUE(json.members.empty());
  EXPECT_TRUE(json.parse("{'b':1}"));
  EXPECT_EQ(pairs(json), (std::vector<Pair>{{"b", "1", false}}));
}
