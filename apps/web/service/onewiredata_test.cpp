#include "apps/web/service/onewiredata.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
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

// Stands in for the 1-Wire writer: records arguments and input, writes to both streams, ends as "how" says.
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

const std::string kGreen = qortest::kHead;

const RowRef kModemLabel = findRow("MemServiceMode", "ServiceMode1WireModemLabel");
const RowRef kModemType = findRow("MemServiceMode", "ServiceModeConnectedModemType");
const RowRef kWriting = findRow("MemServiceMode", "ServiceModeWritingToRing1Wire");
const RowRef kRingLabel = findRow("MemServiceMode", "ServiceMode1WireRingLabel");
const RowRef kAutoDetect = findRow("MemPersistent", "PreMarkedRingAutoDet");

std::string value(const RowRef& v) { return Introspection::getVarValue(v.mem, v.var, 0); }
uint32_t event(const RowRef& v) { return Introspection::getVarEvent(v.mem, v.var).event; }
void store(const RowRef& v, const char* text) { ASSERT_EQ(Introspection::setVarValue(v.mem, v.var, text), ""); }

// The ring route behind the service's listener, over memories of the test's own.
class RingRoute : public FcgiFixture {
 protected:
  void SetUp() override {
    FcgiFixture::SetUp();
    threshold = gen::LogLight;
    fake.tool.logDevice = "/dev/kmsg";
    startRoute();
    handler.onRequest = [this](Request* request) { ring->handle(request, day(2024, 3, 20)); };
    qortest::postedEvents();
  }
  void startRoute() { ring = std::make_unique<PremarkedRing>(poll, *fcgi, fake.tool); }

  static std::string encodeRing(const std::string& body) {
    return fcgiclient::encodeRequest({{"SCRIPT_NAME", "/ring"}}, body, true, 1);
  }
  std::string ask(const std::string& body) {
    const auto reply = connect()->request({{"SCRIPT_NAME", "/ring"}}, body, true);
    EXPECT_TRUE(reply.ended);
    return reply.stdoutText;
  }
  bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) pump(10);
    return done();
  }
  std::string newLog() {
    std::string text = testsupport::kernelLogSince(logSeen);
    logSeen += text.size();
    return text;
  }

  TestPayloads segments;
  FakeTool fake;
  std::unique_ptr<PremarkedRing> ring;
  size_t logSeen = testsupport::kernelLogText().size();
};

}  // namespace

TEST(OneWireData, RingTextHasDateCodeTypeDigitAndANumberInTheRingsRangeAndNothingElse) {
  EXPECT_EQ(dateCode(day(2024, 3, 20)), 2411);
  EXPECT_EQ(dateCode(day(2023, 1, 1)), 2301) << "a year starting on Sunday starts with week 1";
  EXPECT_EQ(dateCode(day(2022, 1, 1)), 2200) << "days before the first Sunday are week 0";
  EXPECT_EQ(dateCode(day(2022, 1, 2)), 2201);
  EXPECT_EQ(dateCode(day(2024, 12, 31)), 2452);

  const std::tm now = day(2024, 3, 20);
  const auto ring = [&](const nlohmann::json& body) { return ringText(body, now); };
  const auto iris = [](const nlohmann::json& value) {
    return nlohmann::json{{"ringType", "Iris"}, {"irisValue", value}};
  };
  EXPECT_EQ(ring(iris("2.8")), "2411\n4\n2.8\n");
  EXPECT_EQ(ring(iris("2.80")), "2411\n4\n2.80\n") << "text is handed on as sent";
  EXPECT_EQ(ring(iris(2.8)), "2411\n4\n2.8\n") << "a JSON number is as good as text";
  EXPECT_EQ(ring(iris(16)), "2411\n4\n16\n");
  EXPECT_EQ(ring({{"ringType", "Focus Imperial Reverse"}, {"focusCloseValue", "10"}, {"irisValue", "x"}}),
            "2411\n9\n10\n");
  EXPECT_EQ(ring({{"ringType", "Focus Metric"}, {"focusCloseValue", 0.2}}), "2411\n1\n0.2\n");

  const auto refused = [&](const nlohmann::json& body, const std::string& why) {
    SCOPED_TRACE(body.dump());
    EXPECT_THAT([&] { ring(body); }, testing::ThrowsMessage<std::runtime_error>(HasSubstr(why)));
  };
  for (const std::string& text : std::initializer_list<std::string>{
           "2.8\n9\nINJECTED", "2.8\r", "\t2.8", "2.8 ", std::string("2\0.8", 4), "2.8'", "$(id)", "2,8", "-2.8",
           "+2.8", "2.8e0", ".8", "2.", "2..8", "", "0000000000000002.8"})
    refused(iris(text), "irisValue is not a number");
  for (const nlohmann::json& value :
       {nlohmann::json(true), nlohmann::json(nullptr), nlohmann::json::array({2.8}), nlohmann::json::object()})
    refused(iris(value), "irisValue is not a number");
  refused(iris(0.5), "irisValue 0.5 is not between 0.7 and 45 for Iris");
  refused(iris("46"), "irisValue 46 is not between");
  refused(iris(-1), "irisValue -1 is not between");
  refused(iris(1e300), "is not between");
  refused({{"ringType", "Focus Metric Left"}, {"focusCloseValue", "3.5"}},
          "focusCloseValue 3.5 is not between 0.2 and 3");
  refused({{"ringType", "Focus Imperial"}, {"focusCloseValue", "0.45m"}}, "focusCloseValue is not a number");
  refused({{"ringType", "Iris"}, {"focusCloseValue", "2.8"}}, "Key: 'irisValue' is missing");
  refused({{"ringType", "focus metric"}, {"focusCloseValue", "1"}}, "Unit has an invalid value: focus metric");
  refused({{"ringType", 4}}, "ringType is not a text");
  refused({{"irisValue", "2.8"}}, "Key: 'ringType' is missing");
  refused(nlohmann::json::array({"Iris", "2.8"}), "not a JSON object");
}

TEST_F(RingRoute, ModemTypesAndRingWritesAnnounceTheirStateAndASecondRingIsRefusedWhileTheToolRuns) {
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

  store(kModemLabel, "before");
  qortest::postedEvents();
  for (const char* body : {R"({"type": "A"})", R"({"devType": 65})", "devType=A", "", R"(["A"])"}) {
    writeModemData(body);
    EXPECT_EQ(value(kModemLabel), "before") << body;
    EXPECT_THAT(newLog(), HasSubstr("Writing to the modem's 1Wire failed")) << body;
  }
  EXPECT_TRUE(qortest::postedEvents().empty());

  // A second ring is refused while the tool runs; failures lower the flag without a pulse.
  store(kAutoDetect, "true");
  qortest::postedEvents();
  fake.endWith("while [ ! -e go ]; do sleep 0.01; done");
  auto writer = connect();
  ASSERT_TRUE(writer->sendRaw(encodeRing(R"({"ringType": "Iris", "irisValue": 2.8})")));
  ASSERT_TRUE(pumpUntil([&] { return ring->busy(); }));
  EXPECT_EQ(value(kWriting), "true") << "the unit sees the write while it runs";

  EXPECT_EQ(ask(R"({"ringType": "Iris", "irisValue": "4"})"),
            kGreen + R"({"result": 0, "error": "Another ring is being written" })");
  EXPECT_EQ(value(kWriting), "true");
  EXPECT_TRUE(ring->busy());

  qortest::writeFile(fake.dir / "go", "");
  const auto reply = writer->readReply();
  EXPECT_TRUE(reply.ended);
  EXPECT_EQ(reply.stdoutText, kGreen) << "success keeps its empty answer";
  EXPECT_EQ(fake.file("input"), "2411\n4\n2.8\n\n");
  EXPECT_EQ(fake.file("args"), "-e|-m|knob|");
  EXPECT_EQ(qortest::postedEvents(),
            (Events{event(kWriting), event(kRingLabel), event(kAutoDetect), event(kAutoDetect), event(kWriting)}));
  EXPECT_EQ(value(kWriting), "false");
  EXPECT_EQ(value(kAutoDetect), "true");
  const std::string log = newLog();
  EXPECT_THAT(log, HasSubstr("out\nerr\n")) << "the tool's output goes to the kernel log";
  EXPECT_THAT(log, HasSubstr("Premarked-ring encryption successful"));

  store(kRingLabel, "");
  qortest::postedEvents();
  EXPECT_EQ(ask("{\"ringType\": \"Iris\""), kGreen + R"({"result": 0, "error": "The body is not JSON" })");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kWriting), event(kRingLabel), event(kWriting)}));
  EXPECT_EQ(value(kWriting), "false");
  EXPECT_THAT(newLog(), HasSubstr("Writing to the premarked ring's 1Wire failed"));
  EXPECT_EQ(fake.file("input"), "2411\n4\n2.8\n\n") << "the refused body did not reach the tool";

  fake.endWith("exit 1");
  EXPECT_EQ(ask(R"({"ringType": "Iris", "irisValue": "2.8"})"),
            kGreen + R"({"result": 0, "error": "Error during calling onewire-tool.py" })");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kWriting), event(kWriting)}));
  EXPECT_THAT(newLog(), HasSubstr("Error during calling onewire-tool.py"));

  fake.tool.program = fake.dir / "no-such-tool";
  startRoute();
  EXPECT_THAT(ask(R"({"ringType": "Iris", "irisValue": "2.8"})"), HasSubstr("Error during calling onewire-tool.py"));
  EXPECT_EQ(value(kWriting), "false");
}

TEST_F(RingRoute, ToolIsKilledWithAllItStartedAtItsBoundAndAnAnswerForAGoneConnectionIsDropped) {
  fake.tool.timeout = std::chrono::milliseconds(300);
  startRoute();
  // The shell waits for a sleep of its own: two processes, both to be ended.
  fake.endWith("sleep 1000 & echo $! > sleeper; wait");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ask(R"({"ringType": "Iris", "irisValue": "2.8"})"),
            kGreen + R"({"result": 0, "error": "Error during calling onewire-tool.py" })");
  EXPECT_GE(std::chrono::steady_clock::now() - start, fake.tool.timeout);
  EXPECT_THAT(newLog(), HasSubstr("did not end within 300 ms"));
  ASSERT_TRUE(pumpUntil([&] { return !ring->busy(); })) << "the killed tool is collected";
  const std::string sleeper = "/proc/" + fake.file("sleeper").substr(0, fake.file("sleeper").find('\n'));
  // Killed, and gone once its new parent has collected it.
  const auto running = [&] {
    std::ifstream stat(sleeper + "/stat");
    std::string line;
    return std::getline(stat, line) && line[line.rfind(')') + 2] != 'Z';
  };
  for (int i = 0; i < 100 && running(); ++i) ::usleep(10000);
  EXPECT_FALSE(running());

  // The client gives up while the tool runs; the ring is still written and announced.
  fake.tool.timeout = kOneWireToolTimeout;
  startRoute();
  fake.endWith("while [ ! -e go ]; do sleep 0.01; done");
  auto writer = connect();
  ASSERT_TRUE(writer->sendRaw(encodeRing(R"({"ringType": "Focus Metric", "focusCloseValue": "0.45"})")));
  ASSERT_TRUE(pumpUntil([&] { return ring->busy(); }));
  writer.reset();
  ASSERT_TRUE(pumpUntil([&] { return fcgi->requests().empty(); })) << "the request is deleted with its connection";
  qortest::postedEvents();
  qortest::writeFile(fake.dir / "go", "");
  ASSERT_TRUE(pumpUntil([&] { return !ring->busy(); }));
  EXPECT_THAT(newLog(), HasSubstr("went away before its ring was written"));
  EXPECT_EQ(value(kWriting), "false");
  EXPECT_EQ(qortest::postedEvents(), (Events{event(kAutoDetect), event(kWriting)}));
  EXPECT_EQ(ask(R"({"ringType": "Iris", "irisValue": "2.8"})"), kGreen) << "the route serves the next ring";
}
