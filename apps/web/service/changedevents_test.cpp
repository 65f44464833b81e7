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

std::string rendered(const std::string& memory, const std::string& name) {
  const RowRef row = findRow(memory, name);
  std::string out;
  RequestHandler::printVariable(row.mem, row.var, out);
  return out;
}

TEST(ChangedEvents, MarksOnlyNumbersOfTheEventTableAndGroupsRunsOfAMemoryInEventOrder) {
  TestPayloads segments;
  ChangedEvents events(1);
  EXPECT_FALSE(events.any());
  EXPECT_FALSE(events.mark(1061));
  EXPECT_FALSE(events.mark(0xffffffffu));
  EXPECT_FALSE(events.any());
  EXPECT_TRUE(events.mark(1060));
  EXPECT_TRUE(events.isMarked(1060));
  EXPECT_FALSE(events.isMarked(1059));
  EXPECT_TRUE(events.any());
  events.takeDocument();

  storeBytes("MemPersistent", "AUXTorque", int32_t{2});
  const uint32_t torque = eventOf("MemPersistent", "AUXTorque");
  const uint32_t bluetooth = eventOf("MemPersistent", "BluetoothPower");
  const uint32_t level = eventOf("MemApp", "AppServiceLogLevel");

  events.mark(level);
  events.mark(bluetooth);
  events.mark(torque);
  events.mark(torque);
  EXPECT_EQ(events.takeDocument(),
            "\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : " +
                rendered("MemPersistent", "AUXTorque") +
                ", \r\n    \"BluetoothPower\" : " + rendered("MemPersistent", "BluetoothPower") +
                "\r\n  }, \r\n  \"MemApp\" : {\r\n    \"AppServiceLogLevel\" : " +
                rendered("MemApp", "AppServiceLogLevel") + "\r\n  }\r\n}\r\n}\r\n");
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

  events.mark(torque);
  events.mark(level);
  events.mark(high);
  const std::string document = events.takeDocument();
  const size_t first = document.find("\r\n  \"MemPersistent\" : {");
  const size_t app = document.find("\r\n  }, \r\n  \"MemApp\" : {");
  const size_t second = document.find("\r\n  }, \r\n  \"MemPersistent\" : {", first + 1);
  EXPECT_LT(first, app);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(app, second);

  events.mark(EventSubscribeAll);
  EXPECT_EQ(events.takeDocument().find("\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "),
            std::string("\"errors\": [],\r\n").size());
}

TEST(ChangedEvents, FeedReportsEachVariableChangedAfterASequenceOnceAndVouchesOnlyForItsOwnNumbers) {
  TestPayloads segments;
  constexpr uint64_t kStart = 1'700'000'000'000'000;
  ChangedEvents events(kStart);
  const std::string nothing = "\"errors\": [],\r\n\"variables\": {\r\n}\r\n}\r\n";
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
  const uint32_t torque = eventOf("MemPersistent", "AUXTorque");
  const uint32_t bluetooth = eventOf("MemPersistent", "BluetoothPower");
  const uint32_t level = eventOf("MemApp", "AppServiceLogLevel");
  for (uint32_t event : {level, torque, level, bluetooth}) events.mark(event);
  EXPECT_EQ(events.sequence(), kStart + 5);
  EXPECT_TRUE(events.changedSince(kStart + 4));
  EXPECT_FALSE(events.changedSince(kStart + 5));
  const std::string torqueText = "\r\n    \"AUXTorque\" : " + rendered("MemPersistent", "AUXTorque");
  const std::string bluetoothText = "\r\n    \"BluetoothPower\" : " + rendered("MemPersistent", "BluetoothPower");
  const std::string levelText = "\r\n    \"AppServiceLogLevel\" : " + rendered("MemApp", "AppServiceLogLevel");
  EXPECT_EQ(events.documentSince(kStart), "\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {" +
                                              torqueText + ", " + bluetoothText + "\r\n  }, \r\n  \"MemApp\" : {" +
                                              levelText + "\r\n  }\r\n}\r\n}\r\n");
  // Only what changed after the sequence given: the second change of the level counts, the first not.
  EXPECT_EQ(events.documentSince(kStart + 3), "\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {" +
                                                  bluetoothText + "\r\n  }, \r\n  \"MemApp\" : {" + levelText +
                                                  "\r\n  }\r\n}\r\n}\r\n");
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
  EXPECT_EQ(events.documentSince(beforeGap + 1),
            "\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {" + torqueText + "\r\n  }\r\n}\r\n}\r\n");
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
