#include "apps/common/introspection_enum/introspection_enum.h"

#include <gtest/gtest.h>

#include <cstring>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "tests/unit/kernel_log_capture.h"

namespace {
class Enumerations : public ::testing::Test {
 protected:
  TestPayloads payloads;
  const RowRef level = findRow("MemApp", "AppServiceLogLevel");

  void store(uint32_t value) { std::memcpy(level.address(), &value, sizeof value); }
  uint32_t stored() const {
    uint32_t value;
    std::memcpy(&value, level.address(), sizeof value);
    return value;
  }
};
}  // namespace

TEST(IntrospectionEnum, LooksUpEnumerationsAndEntries) {
  EXPECT_EQ(IntrospectionEnum::getEnumCount(), 81u);
  EXPECT_EQ(IntrospectionEnum::getEnumIndex("LogLevel"), 0u);
  EXPECT_STREQ(IntrospectionEnum::getEnumName(0), "LogLevel");
  EXPECT_EQ(IntrospectionEnum::getEnumEntryCount(0), 8u);
  EXPECT_STREQ(IntrospectionEnum::getEnumEntryName(0, 7), "Error");
  const unsigned int last = IntrospectionEnum::getEnumIndex("RirezuveDisplayMode");
  EXPECT_EQ(last, 80u);
  const unsigned int update = IntrospectionEnum::getEnumIndex("UpdateState");
  EXPECT_EQ(IntrospectionEnum::getEnumEntryCount(update), 14u);
  EXPECT_STREQ(IntrospectionEnum::getEnumEntryName(update, 13), "InProgress");

  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumIndex("loglevel"); }), "Unknown enum \"loglevel\"");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumName(81); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryCount(81); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryName(0, 8); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryName(81, 0); }), "Index exceeds limit");
}

TEST_F(Enumerations, GetterNamesTheEntryOrTellsTheInvalidNumber) {
  store(6);
  EXPECT_EQ(Introspection::getVarValue(level.mem, level.var, 0), "Warn");
  const std::size_t logged = testsupport::kernelLogText().size();
  store(8);
  EXPECT_EQ(Introspection::getVarValue(level.mem, level.var, 0), "INVALID_VALUE: 8");
  // Reported where the enumeration's getter is, in the generated catalogue.
  const std::string line = testsupport::kernelLogSince(logged);
  EXPECT_NE(line.find("Error       "), std::string::npos) << line;
  EXPECT_NE(line.find("introspection_gen.cpp:"), std::string::npos) << line;
  EXPECT_NE(line.find(" Value 8 of enum LogLevel is above number of entries (8)\n"), std::string::npos) << line;
  store(0xffffffffu);
  EXPECT_EQ(Introspection::getVarValue(level.mem, level.var, 0), "INVALID_VALUE: 4294967295");
  EXPECT_EQ(Introspection::getVarMax(level.mem, level.var), "7");
}

TEST_F(Enumerations, SetterTakesExactEntryNamesAndAnnouncesOnlyAChange) {
  store(6);
  takePostedEvents();
  EXPECT_EQ(Introspection::setVarValue(level.mem, level.var, "Warn"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(Introspection::setVarValue(level.mem, level.var, "Error"), "");
  EXPECT_EQ(stored(), 7u);
  const auto events = takePostedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event, level.info().event.event);

  for (const char* text : {"warn", "6", "", "Error "}) {
    EXPECT_EQ(Introspection::setVarValue(level.mem, level.var, text),
              std::string(text) + " is not part of enum LogLevel");
  }
  EXPECT_EQ(stored(), 7u);
  EXPECT_TRUE(takePostedEvents().empty());

  // A stored value outside the enumeration is replaced by a valid one.
  store(200);
  EXPECT_EQ(Introspection::setVarValue(level.mem, level.var, "DebugAll"), "");
  EXPECT_EQ(stored(), 0u);
  EXPECT_EQ(takePostedEvents().size(), 1u);
}
