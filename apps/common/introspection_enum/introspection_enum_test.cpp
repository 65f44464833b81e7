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
};
}  // namespace

TEST(IntrospectionEnum, LooksUpEnumerationsAndEntries) {
  EXPECT_EQ(IntrospectionEnum::getEnumCount(), 81u);
  EXPECT_EQ(IntrospectionEnum::getEnumIndex("LogLevel"), 0u);
  EXPECT_STREQ(IntrospectionEnum::getEnumName(0), "LogLevel");
  EXPECT_EQ(IntrospectionEnum::getEnumEntryCount(0), 8u);
  EXPECT_STREQ(IntrospectionEnum::getEnumEntryName(0, 7), "Error");
  EXPECT_EQ(IntrospectionEnum::getEnumIndex("RirezuveDisplayMode"), 80u);

  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumIndex("loglevel"); }), "Unknown enum \"loglevel\"");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumName(81); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryCount(81); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryName(0, 8); }), "Index exceeds limit");
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumEntryName(81, 0); }), "Index exceeds limit");
}

TEST_F(Enumerations, GetterNamesTheEntryOrTellsTheInvalidNumber) {
  level.store<uint32_t>(6);
  EXPECT_EQ(level.get(), "Warn");
  const std::size_t logged = testsupport::kernelLogText().size();
  level.store<uint32_t>(8);
  EXPECT_EQ(level.get(), "INVALID_VALUE: 8");
  // Reported where the enumeration's getter is, in the generated catalogue.
  const std::string line = testsupport::kernelLogSince(logged);
  EXPECT_NE(line.find("Error       "), std::string::npos) << line;
  EXPECT_NE(line.find("introspection_gen.cpp:"), std::string::npos) << line;
  EXPECT_NE(line.find(" Value 8 of enum LogLevel is above number of entries (8)\n"), std::string::npos) << line;
  level.store<uint32_t>(0xffffffffu);
  EXPECT_EQ(level.get(), "INVALID_VALUE: 4294967295");
  EXPECT_EQ(Introspection::getVarMax(level.mem, level.var), "7");
}

TEST_F(Enumerations, SetterTakesExactEntryNamesAndAnnouncesOnlyAChange) {
  level.store<uint32_t>(6);
  takePostedEvents();
  EXPECT_EQ(level.set("Warn"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(level.set("Error"), "");
  EXPECT_EQ(level.load<uint32_t>(), 7u);
  const auto events = takePostedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event, level.info().event.event);

  for (const char* text : {"warn", "6", "", "Error "}) {
    EXPECT_EQ(level.set(text), std::string(text) + " is not part of enum LogLevel");
  }
  EXPECT_EQ(level.load<uint32_t>(), 7u);
  EXPECT_TRUE(takePostedEvents().empty());

  // A stored value outside the enumeration is replaced by a valid one.
  level.store<uint32_t>(200);
  EXPECT_EQ(level.set("DebugAll"), "");
  EXPECT_EQ(level.load<uint32_t>(), 0u);
  EXPECT_EQ(takePostedEvents().size(), 1u);
}
