#include "apps/web/service/onewiredata.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/test/qorapp_fixture.h"
#include "tests/unit/kernel_log_capture.h"

using testing::HasSubstr;
using Events = std::vector<uint32_t>;

namespace {

std::tm day(int year, int month, int dayOfMonth) {
  std::tm date{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = dayOfMonth;
  date.tm_hour = 12;
  std::mktime(&date);  // fills in the weekday and the day of the year
  return date;
}

// A stand-in for the 1-Wire writer in a scratch folder: records its arguments and its input, says
// something on both output streams, and ends as the folder's "how" file tells it.
class FakeTool {
 public:
  FakeTool() {
    qortest::writeFile(tool.logDevice, "");
    qortest::writeFile(tool.program, "#!/bin/sh\ncd '" + dir.path() +
                                         "'\nprintf '%s|' \"$@\" > args\ncat > input\necho out; echo err >&2\n"
                                         "[ -f how ] && . ./how\nexit 0\n");
    std::filesystem::permissions(tool.program, std::filesystem::perms::owner_all);
  }
  void endWith(const std::string& shellLine) { qortest::writeFile(dir / "how", shellLine + "\n"); }
  std::string file(const char* name) const { return qortest::readFile(dir / name); }

  qortest::TempDir dir;
  OneWireTool tool{dir / "tool", dir / "log"};
};

const RowRef kModemLabel = findRow("MemServiceMode", "ServiceMode1WireModemLabel");
const RowRef kModemType = findRow("MemServiceMode", "ServiceModeConnectedModemType");
const RowRef kWriting = findRow("MemServiceMode", "ServiceModeWritingToRing1Wire");
const RowRef kRingLabel = findRow("MemServiceMode", "ServiceMode1WireRingLabel");
const RowRef kAutoDetect = findRow("MemPersistent", "PreMarkedRingAutoDet");

std::string value(const RowRef& v) { return Introspection::getVarValue(v.mem, v.var, 0); }
uint32_t event(const RowRef& v) { return Introspection::getVarEvent(v.mem, v.var).event; }
void store(const RowRef& v, const char* text) { ASSERT_EQ(Introspection::setVarValue(v.mem, v.var, text), ""); }

// The unit's variables in memory of the test's own, every change event recorded, the kernel log read back.
class Routes : public testing::Test {
 protected:
  void SetUp() override { qortest::postedEvents(); }
  std::string newLog() {
    std::string text = testsupport::kernelLogSince(logSeen);
    logSeen += text.size();
    return text;
  }

  TestPayloads segments;
  size_t logSeen = testsupport::kernelLogText().size();
};

}  // namespace

TEST(OneWireData, RingTextHasDateCodeTypeDigitAndValueAndTheToolTakesUpToAPipeOfItWithinItsTime) {
  EXPECT_EQ(dateCode(day(2024, 3, 20)), 2411);
  EXPECT_EQ(dateCode(day(2023, 1, 1)), 2301) << "a year starting on Sunday starts with week 1";
  EXPECT_EQ(dateCode(day(2022, 1, 1)), 2200) << "days before the first Sunday are week 0";
  EXPECT_EQ(dateCode(day(2022, 1, 2)), 2201);
  EXPECT_EQ(dateCode(day(2024, 12, 31)), 2452);

  const std::tm now = day(2024, 3, 20);
  const auto body = [](const char* type) {
    return nlohmann::json{{"ringType", type}, {"focusCloseValue", "0.45m"}, {"irisValue", "2.8"}};
  };
  EXPECT_EQ(ringText(body("Iris"), now), "2411\n4\n2.8\n");
  EXPECT_EQ(ringText(body("Focus Imperial Reverse"), now), "2411\n9\n0.45m\n");

  EXPECT_THAT([&] { ringText(body("focus metric"), now); },
              testing::ThrowsMessage<std::runtime_error>(HasSubstr("Unit has an invalid value: focus metric\n")));
  EXPECT_THROW(ringText({{"ringType", 4}}, now), nlohmann::json::type_error);

  // The tool takes up to a pipe of text and fails unless it exits with zero.
  FakeTool fake;
  EXPECT_TRUE(runOneWireTool(std::string(PIPE_BUF, 'x'), fake.tool)) << "a pipe's worth is written whole";
  EXPECT_THROW(runOneWireTool(std::string(PIPE_BUF + 1, 'x'), fake.tool), std::runtime_error);
  for (const char* end : {"exit 1", "kill -KILL $$"}) {
    fake.endWith(end);
    EXPECT_FALSE(runOneWireTool("x\n", fake.tool)) << end;
  }

  EXPECT_FALSE(runOneWireTool("x\n", {fake.dir / "no-such-tool", fake.tool.logDevice}));
  EXPECT_THROW(runOneWireTool("x\n", {fake.tool.program, fake.dir / "no-folder/kmsg"}), std::runtime_error);

  // One that never ends is stopped with all it started after its time.
  fake.tool.timeout = std::chrono::milliseconds(300);
  // The shell waits for a sleep of its own: two processes, both to be ended.
  fake.endWith("sleep 1000 & echo $! > sleeper; wait");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(runOneWireTool("x\n", fake.tool));
  EXPECT_GE(std::chrono::steady_clock::now() - start, fake.tool.timeout);
  const std::string sleeper = "/proc/" + fake.file("sleeper").substr(0, fake.file("sleeper").find('\n'));
  // Killed, and gone once its new parent has collected it.
  const auto running = [&] {
    std::ifstream stat(sleeper + "/stat");
    std::string line;
    return std::getline(stat, line) && line[line.rfind(')') + 2] != 'Z';
  };
  for (int i = 0; i < 100 && running(); ++i) ::usleep(10000);
  EXPECT_FALSE(running());
  EXPECT_THAT(testsupport::kernelLogText(), HasSubstr("did not end within 300 ms"));
}

TEST_F(Routes, ModemLetterSelectsTheTypeOrReportsAnUnknownModemAndOtherBodiesChangeNothing) {
  writeModemData(R"({"devType": "A"})");
  EXPECT_EQ(value(kModemLabel), "Modem encryption started ...");
  EXPECT_EQ(value(kModemType), "Varn");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kModemLabel), event(kModemType)}));

  writeModemData(R"({"devType": "C"})");
  EXPECT_EQ(value(kModemLabel), "Unknown Modem type connected");
  EXPECT_EQ(value(kModemType), "Varn");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kModemLabel)})) << "the starting label was already set";

  writeModemData(R"({"devType": "D"})");
  EXPECT_EQ(value(kModemType), "P900");
  writeModemData(R"({"devType": "D"})");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kModemLabel), event(kModemType)}))
      << "a value already held is not announced again";
  EXPECT_EQ(newLog().find("Error"), std::string::npos);

  // A body without a usable type changes nothing.
  store(kModemLabel, "before");
  qortest::postedEvents();
  for (const char* body : {R"({"type": "A"})", R"({"devType": 65})", "devType=A", "", R"(["A"])"}) {
    writeModemData(body);
    EXPECT_EQ(value(kModemLabel), "before") << body;
    EXPECT_THAT(newLog(), HasSubstr("Writing to the modem's 1Wire failed")) << body;
  }
  EXPECT_TRUE(qortest::postedEvents().empty());
}

TEST_F(Routes, RingIsWrittenByTheToolThenAnnouncedByAPulseUnlessTheWriteFails) {
  FakeTool fake;
  fake.tool.logDevice = "/dev/kmsg";
  store(kAutoDetect, "true");
  qortest::postedEvents();
  const std::tm now = day(2024, 3, 20);

  writePremarkedData(R"({"ringType": "Iris", "irisValue": "2.8"})", now, fake.tool);
  EXPECT_EQ(fake.file("input"), "2411\n4\n2.8\n\n");
  EXPECT_EQ(fake.file("args"), "-e|-m|knob|");
  EXPECT_EQ(qortest::postedEvents(),
            (Events{event(kWriting), event(kRingLabel), event(kAutoDetect), event(kAutoDetect), event(kWriting)}));
  EXPECT_EQ(value(kWriting), "false");
  EXPECT_EQ(value(kRingLabel), "-");
  EXPECT_EQ(value(kAutoDetect), "true");
  const std::string log = newLog();
  EXPECT_THAT(log, HasSubstr("out\nerr\n")) << "the tool's output goes to the kernel log";
  EXPECT_THAT(log, HasSubstr("Premarked-ring encryption successful"));

  // A failed write resets the writing flag without a pulse.
  fake.endWith("exit 1");
  const struct {
    const char* body;
    const char* log;
  } failures[] = {{R"({"ringType": "Iris", "irisValue": "2.8"})", "Error during calling onewire-tool.py"},
                  {R"({"ringType": "focus metric", "focusCloseValue": "1m"})", "invalid value: focus metric\n"},
                  {"{\"ringType\": \"Iris\"", "Error"},
                  {R"({"ringType": "Iris"})", "Error"}};
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.body);
    store(kRingLabel, "");
    qortest::postedEvents();
    writePremarkedData(failure.body, day(2024, 3, 20), fake.tool);
    EXPECT_EQ(qortest::postedEvents(), (Events{event(kWriting), event(kRingLabel), event(kWriting)}));
    EXPECT_EQ(value(kWriting), "false");
    const std::string log = newLog();
    EXPECT_THAT(log, HasSubstr(failure.log));
    EXPECT_THAT(log, HasSubstr("Writing to the premarked ring's 1Wire failed"));
  }
  EXPECT_EQ(value(kAutoDetect), "true");
}
