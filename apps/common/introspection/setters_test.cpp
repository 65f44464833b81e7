#include "apps/common/introspection/setters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "tests/unit/kernel_log_capture.h"

namespace {
class Setters : public ::testing::Test {
 protected:
  TestPayloads payloads;
};
}  // namespace

TEST_F(Setters, IntConvertsLikeStoiWithItsBaseTakenFromThePrefix) {
  const RowRef row = findRow("MemPersistent", "AUXTorque");
  const struct {
    const char* text;
    int32_t stored;
  } accepted[] = {{"0x10", 16},
                  {"010", 8},
                  {"12abc", 12},
                  {"-2147483648", std::numeric_limits<int32_t>::min()},
                  {"9", 9}};  // bounds are for display only
  for (const auto& c : accepted) {
    EXPECT_EQ(row.set(c.text), "") << c.text;
    EXPECT_EQ(row.load<int32_t>(), c.stored) << c.text;
  }
  EXPECT_EQ(row.get(), "9");

  for (const char* text : {"x7", "2147483648", ""}) {
    row.store<int32_t>(3);
    EXPECT_EQ(row.set(text), std::string("Can't convert ") + text + " to int");
    EXPECT_EQ(row.load<int32_t>(), 3) << text;
  }
}

TEST_F(Setters, ScalarEventsArePostedOnlyWhenTheBytesChange) {
  const RowRef number = findRow("MemPersistent", "AUXTorque");
  const Notify event = number.info().event;
  number.store<int32_t>(4);
  takePostedEvents();
  EXPECT_EQ(number.set("4"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(number.set("5"), "");
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{event});
  EXPECT_EQ(number.set("x"), "Can't convert x to int");
  EXPECT_TRUE(takePostedEvents().empty());

  const RowRef real = findRow("MemPersistent", "CircleofConfusion");
  real.store<float>(0.0f);
  takePostedEvents();
  EXPECT_EQ(real.set("0"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  // Bytewise: -0 differs from 0 and is announced; the same NaN again is not.
  EXPECT_EQ(real.set("-0"), "");
  EXPECT_EQ(takePostedEvents().size(), 1u);
  EXPECT_EQ(real.set("nan"), "");
  EXPECT_EQ(real.set("nan"), "");
  EXPECT_EQ(takePostedEvents().size(), 1u);
}

TEST_F(Setters, FloatConvertsLikeStofAndPrintsSixDecimals) {
  const RowRef row = findRow("MemPersistent", "CircleofConfusion");
  EXPECT_EQ(row.set("2.5"), "");
  EXPECT_EQ(row.load<float>(), 2.5f);
  EXPECT_EQ(row.get(), "2.500000");
  EXPECT_EQ(row.set("1e38"), "");
  EXPECT_EQ(row.get(), "99999996802856924650656260769173209088.000000");

  row.store<float>(1.0f);
  for (const char* text : {"1e39", "abc"}) {
    EXPECT_EQ(row.set(text), std::string("Can't convert ") + text + " to float");
    EXPECT_EQ(row.load<float>(), 1.0f) << text;
  }
}

TEST_F(Setters, BoolTakesExactlyTrueOrFalseAndRewritesAStoredTwo) {
  const RowRef row = findRow("MemLensMarkers", "FocusMarkerClearValue");
  for (const char* text : {"True", "1", "true "}) EXPECT_EQ(row.set(text), "Value has to be 'true' or 'false'") << text;
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(row.get(), "false");

  *row.address() = 2;
  EXPECT_EQ(row.get(), "true");
  EXPECT_EQ(row.set("true"), "");
  EXPECT_EQ(static_cast<int>(*row.address()), 1);
  EXPECT_EQ(takePostedEvents().size(), 1u);
  EXPECT_EQ(row.set("true"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(row.set("false"), "");
  EXPECT_EQ(static_cast<int>(*row.address()), 0);
  EXPECT_EQ(takePostedEvents().size(), 1u);
}

TEST_F(Setters, ElementWritesFollowArgumentAOfTheEvent) {
  const RowRef row = findRow("MemPersistent", "AUXTorque");
  char* payload = *row.info().memory;
  const Notify element{row.info().event.event, 1, 2};
  EXPECT_EQ(setIntIntrospection(payload, row.mem, row.var, element, "77"), "");
  EXPECT_EQ(row.load<int32_t>(0), 0);
  EXPECT_EQ(row.load<int32_t>(2), 77);
  EXPECT_EQ(getIntIntrospection(row.address(), 2), "77");
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{element});

  // Any other argument a stores nothing and is not an error.
  const std::vector<char> before(row.address(), row.address() + 16);
  const Notify other{row.info().event.event, 2, 0};
  EXPECT_EQ(setIntIntrospection(payload, row.mem, row.var, other, "5"), "");
  EXPECT_EQ(setFloatIntrospection(payload, row.mem, row.var, other, "5"), "");
  EXPECT_EQ(setBoolIntrospection(payload, row.mem, row.var, other, "true"), "");
  EXPECT_EQ(std::vector<char>(row.address(), row.address() + 16), before);
  EXPECT_TRUE(takePostedEvents().empty());
}

TEST_F(Setters, StringIsCutToItsCapacityAndAlwaysAnnounced) {
  const RowRef row = findRow("MemStatic", "ModemVersionString");
  ASSERT_STREQ(row.info().arrayLength, "50");
  std::memset(row.address(), 'z', 51);  // includes the first byte after the field

  EXPECT_EQ(row.set("v1.2"), "");
  EXPECT_EQ(row.get(), "v1.2");
  EXPECT_EQ(row.address()[5], 'z');  // bytes after the terminator keep their contents
  EXPECT_EQ(takePostedEvents().size(), 1u);

  const std::string longText(80, 'a');
  EXPECT_EQ(row.set(longText.c_str()), "");
  EXPECT_EQ(row.get(), std::string(49, 'a'));
  EXPECT_EQ(row.address()[49], '\0');
  EXPECT_EQ(row.address()[50], 'z');

  // A value another process left without terminator is read up to the field's end only.
  std::memset(row.address(), 'q', 50);
  EXPECT_EQ(row.get(), std::string(50, 'q'));
}

TEST_F(Setters, BufferReadsHexPairsAndKeepsWhatWasStoredBeforeABadDigit) {
  const RowRef row = findRow("MemGuiLocal", "KnobAssignmentFlags");
  ASSERT_STREQ(row.info().arrayLength, "2");
  const struct {
    const char* text;
    std::string answer;
    std::array<uint8_t, 3> stored;
  } cases[] = {
      {"A0ff", "", {0xa0, 0xff, 0x55}},
      {"abc", "", {0xab, 0xc0, 0x55}},
      {"0102ff", "", {0x01, 0x02, 0x55}},  // at most the buffer's bytes
      {"0g12", "Can't convert 0g12 to buffer", {0x55, 0x55, 0x55}},
      {"120g", "Can't convert 0g to buffer", {0x12, 0x55, 0x55}},
      {"-1", "Can't convert -1 to buffer", {0x55, 0x55, 0x55}},
  };
  for (const auto& c : cases) {
    std::memset(row.address(), 0x55, 3);
    takePostedEvents();
    const std::size_t logged = testsupport::kernelLogText().size();
    EXPECT_EQ(row.set(c.text), c.answer) << c.text;
    const std::string line = testsupport::kernelLogSince(logged);
    const std::string bad = std::string(" Not a valid hex digit: ") + (c.text[0] == '-' ? '-' : 'g') + "\n";
    EXPECT_EQ(line.empty(), c.answer.empty()) << line;
    EXPECT_TRUE(line.empty() || (line.find("Error       ") != line.npos && line.find(bad) != line.npos)) << line;
    EXPECT_EQ((row.load<std::array<uint8_t, 3>>()), c.stored) << c.text;
    EXPECT_EQ(takePostedEvents().size(), c.answer.empty() ? 1u : 0u) << c.text;
  }
}

TEST(SetVariable, TextArraysCompareWithinTheirBytesAndCutToFit) {
  std::array<char, 8> target{};
  std::strcpy(target.data(), "abc");
  takePostedEvents();
  setVariable(target, Notify{9, 0, 0}, "abc");
  EXPECT_TRUE(takePostedEvents().empty());
  setVariable(target, Notify{9, 0, 0}, "abcdefghij");
  EXPECT_STREQ(target.data(), "abcdefg");
  EXPECT_EQ(takePostedEvents().size(), 1u);

  // A target without terminator is never read past its end and is rewritten.
  target.fill('x');
  setVariable(target, Notify{9, 0, 0}, "xxxxxxxx");
  EXPECT_STREQ(target.data(), "xxxxxxx");
  EXPECT_EQ(takePostedEvents().size(), 1u);
}
