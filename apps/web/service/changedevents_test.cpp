#include "apps/web/service/changedevents.h"

#include <gtest/gtest.h>

#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/requesthandler.h"

namespace {

uint32_t eventOf(const std::string& memory, const std::string& name) {
  return findRow(memory, name).info().event.event;
}

// Three variables of two memories, their events, and the members they render to.
class ChangedEventsTest : public testing::Test {
 protected:
  static std::string member(const std::string& memory, const std::string& name) {
    const RowRef row = findRow(memory, name);
    std::string out = "\r\n    \"" + name + "\" : ";
    RequestHandler::printVariable(row.mem, row.var, out);
    return out;
  }
  // The document of MemPersistent's members, then MemApp's, leaving out an empty one.
  static std::string document(const std::string& persistent, const std::string& app) {
    std::string text = "\"errors\": [],\r\n\"variables\": {";
    if (!persistent.empty()) text += "\r\n  \"MemPersistent\" : {" + persistent + "\r\n  }";
    if (!persistent.empty() && !app.empty()) text += ", ";
    if (!app.empty()) text += "\r\n  \"MemApp\" : {" + app + "\r\n  }";
    return text + "\r\n}\r\n}\r\n";
  }

  TestPayloads segments;
  const uint32_t torque = eventOf("MemPersistent", "AUXTorque");
  const uint32_t bluetooth = eventOf("MemPersistent", "BluetoothPower");
  const uint32_t level = eventOf("MemApp", "AppServiceLogLevel");
};

TEST_F(ChangedEventsTest, MarksOnlyNumbersOfTheEventTableAndGroupsRunsOfAMemoryInEventOrder) {
  ChangedEvents events(1);
  EXPECT_FALSE(events.any());
  EXPECT_FALSE(events.mark(ChangedEvents::kEventCount));
  EXPECT_FALSE(events.mark(0xffffffffu));
  EXPECT_FALSE(events.any());
  EXPECT_TRUE(events.mark(ChangedEvents::kEventCount - 1));
  EXPECT_TRUE(events.isMarked(ChangedEvents::kEventCount - 1));
  EXPECT_FALSE(events.isMarked(ChangedEvents::kEventCount - 2));
  EXPECT_TRUE(events.any());
  events.takeDocument();

  storeBytes("MemPersistent", "AUXTorque", int32_t{2});
  for (uint32_t event : {level, bluetooth, torque, torque}) events.mark(event);
  EXPECT_EQ(events.takeDocument(),
            document(member("MemPersistent", "AUXTorque") + ", " + member("MemPersistent", "BluetoothPower"),
                     member("MemApp", "AppServiceLogLevel")));
  EXPECT_FALSE(events.any());
  EXPECT_FALSE(events.isMarked(torque));

  // Numbers that no row carries locate to the first row of MemPersistent, so one above an event of
  // another memory separates two runs of MemPersistent.
  std::vector<bool> used(ChangedEvents::kEventCount);
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var)
      used[Introspection::getVarEvent(mem, var).event] = true;
  uint32_t high = level + 1;
  while (high < ChangedEvents::kEventCount && used[high]) ++high;
  ASSERT_LT(high, ChangedEvents::kEventCount) << "every number above MemApp's event names a variable";

  for (uint32_t event : {torque, level, high}) events.mark(event);
  const std::string marked = events.takeDocument();
  const size_t first = marked.find("\r\n  \"MemPersistent\" : {");
  const size_t app = marked.find("\r\n  }, \r\n  \"MemApp\" : {");
  const size_t second = marked.find("\r\n  }, \r\n  \"MemPersistent\" : {", first + 1);
  EXPECT_LT(first, app);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(app, second);

  events.mark(EventSubscribeAll);
  EXPECT_EQ(events.takeDocument().find("\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "),
            std::string("\"errors\": [],\r\n").size());
}

TEST_F(ChangedEventsTest, FeedReportsEachVariableChangedAfterASequenceOnceAndVouchesOnlyForItsOwnNumbers) {
  constexpr uint64_t kStart = 1'700'000'000'000'000;
  ChangedEvents events(kStart);
  const std::string nothing = document("", "");
  EXPECT_EQ(events.sequence(), kStart);
  EXPECT_TRUE(events.vouchesFor(kStart));
  EXPECT_FALSE(events.vouchesFor(kStart - 1));
  EXPECT_FALSE(events.vouchesFor(kStart + 1));
  EXPECT_FALSE(events.vouchesFor(0));
  EXPECT_FALSE(events.changedSince(kStart));
  EXPECT_EQ(events.documentSince(kStart), nothing);

  // An event that names no variable is numbered but reports nothing.
  EXPECT_TRUE(events.mark(5));
  EXPECT_FALSE(events.mark(ChangedEvents::kEventCount));
  EXPECT_EQ(events.sequence(), kStart + 1);
  EXPECT_FALSE(events.changedSince(kStart));
  EXPECT_EQ(events.documentSince(kStart), nothing);

  // Interleaved memories and a repeated event: each variable once, one member per memory.
  for (uint32_t event : {level, torque, level, bluetooth}) events.mark(event);
  EXPECT_EQ(events.sequence(), kStart + 5);
  EXPECT_TRUE(events.changedSince(kStart + 4));
  EXPECT_FALSE(events.changedSince(kStart + 5));
  const std::string torqueText = member("MemPersistent", "AUXTorque");
  const std::string bluetoothText = member("MemPersistent", "BluetoothPower");
  const std::string levelText = member("MemApp", "AppServiceLogLevel");
  EXPECT_EQ(events.documentSince(kStart), document(torqueText + ", " + bluetoothText, levelText));
  // Only what changed after the sequence given: the second change of the level counts, the first not.
  EXPECT_EQ(events.documentSince(kStart + 3), document(bluetoothText, levelText));
  EXPECT_EQ(events.documentSince(kStart + 5), nothing);

  // The marks of the clients without a sequence are a separate account: taking them leaves the feed.
  EXPECT_TRUE(events.isMarked(torque));
  events.takeDocument();
  EXPECT_FALSE(events.any());
  EXPECT_NE(events.documentSince(kStart + 1).find(torqueText), std::string::npos);

  // An event shared by two rows reports both.
  events.mark(eventOf("MemLensMarkers", "FocusMarkerClearValue"));
  const std::string shared = events.documentSince(kStart + 5);
  EXPECT_NE(shared.find("\"MemLens\" : {\r\n    \"FocusMarkerClearValue\" : "), std::string::npos) << shared;
  EXPECT_NE(shared.find("\"MemLensMarkers\" : {\r\n    \"FocusMarkerClearValue\" : "), std::string::npos) << shared;

  // A gap: sequences before it are refused, and the sequence moves up so a fresh whole state is vouched for.
  const uint64_t beforeGap = events.sequence();
  events.forgetBefore(beforeGap + 1);
  EXPECT_EQ(events.sequence(), beforeGap + 1);
  EXPECT_FALSE(events.vouchesFor(beforeGap));
  EXPECT_TRUE(events.vouchesFor(beforeGap + 1));
  events.forgetBefore(kStart);
  EXPECT_FALSE(events.vouchesFor(beforeGap));
  events.mark(torque);
  EXPECT_EQ(events.sequence(), beforeGap + 2);
  EXPECT_TRUE(events.changedSince(beforeGap + 1));
  EXPECT_EQ(events.documentSince(beforeGap + 1), document(torqueText, ""));
}

TEST(ChangedEvents, SinceIsReadOnlyAsAWholeDecimalNumberAndAnythingElseIsRefusedAsZero) {
  EXPECT_EQ(sinceInQuery(""), std::nullopt);
  EXPECT_EQ(sinceInQuery("offset=3"), std::nullopt);
  EXPECT_EQ(sinceInQuery("sincere=5&x=since"), std::nullopt);
  EXPECT_EQ(sinceInQuery("since=1700000000000042"), 1700000000000042u);
  EXPECT_EQ(sinceInQuery("a=1&since=18446744073709551615&since=3"), 18446744073709551615u);
  for (const char* refused : {"since=18446744073709551616", "since=", "since", "since=12x", "since=-1", "since=+1",
                              "since= 1", "a&since=0x10"})
    EXPECT_EQ(sinceInQuery(refused), 0u) << refused;
}

}  // namespace
