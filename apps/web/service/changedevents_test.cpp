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
  ChangedEvents events;
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

}  // namespace
