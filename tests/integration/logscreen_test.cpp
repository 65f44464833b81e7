// The kernel-log stream, the screenshot and the 1-Wire routes of the running service inside the unit
// sandbox, with the sandbox's dmesg and onewire-tool.py stand-ins and the simulator's frame buffer.
#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/web/service/test/log_markup_check.h"
#include "tests/integration/sandbox_harness.h"
#include "tests/integration/variable_api_support.h"

namespace {

const std::string kHtmlHead = "Content-type: text/html\r\n\r\n";
const std::string kPngHead = "Content-type: image/png\r\n\r\n";
const std::string kJsonHead = "Content-type: application/json\r\n\r\n";

// Stops the service's own debug lines, which would otherwise keep the log growing by themselves.
void quietLog(fcgiclient::FcgiClient& client) {
  ASSERT_EQ(call(client, kSet, "{'MemApp':{'AppServiceLogLevel':'Warn'}}"), "{\"result\": 1 }");
}

fcgiclient::Params logRequest(const std::string& query) {
  return {{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"QUERY_STRING", query}};
}

struct LogAnswer {
  size_t length = 0;  // the first line
  std::string data;   // what follows it
};

LogAnswer parseLogAnswer(const std::string& stdoutText) {
  EXPECT_EQ(stdoutText.substr(0, kHtmlHead.size()), kHtmlHead);
  const std::string body = stdoutText.substr(kHtmlHead.size());
  const size_t lineEnd = body.find("\r\n");
  EXPECT_NE(lineEnd, std::string::npos);
  return {std::stoul(body.substr(0, lineEnd)), body.substr(lineEnd + 2)};
}

LogAnswer wholeLog(fcgiclient::FcgiClient& client) {
  const auto reply = client.request(logRequest(""), "", true);
  EXPECT_TRUE(reply.ended);
  return parseLogAnswer(reply.stdoutText);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<unsigned char> rgba;
  std::vector<int> at(uint32_t x, uint32_t y) const {
    const unsigned char* p = &rgba[(size_t(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
};

Image decodePng(const std::string& data) {
  Image image;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, data.data(), data.size())) {
    ADD_FAILURE() << "not a PNG: " << png.message;
    return image;
  }
  png.format = PNG_FORMAT_RGBA;
  image.width = png.width;
  image.height = png.height;
  image.rgba.resize(PNG_IMAGE_SIZE(png));
  EXPECT_TRUE(png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) << png.message;
  return image;
}

std::string screen(fcgiclient::FcgiClient& client) {
  const auto reply = client.request({{"SCRIPT_NAME", "/api/v1/screen.cgi"}}, "", true);
  EXPECT_TRUE(reply.ended);
  return reply.stdoutText;
}

TEST(LogStream, LengthLineThenTheConvertedLog) {
  Sandbox unit;
  auto client = connectService(unit);
  quietLog(*client);
  ASSERT_EQ(unit.run("printf 'x \\033[32mabc\\033[0m \\033[1m\\033[101m<&>\\n' > /dev/kmsg"), 0);

  LogAnswer answer;
  for (int i = 0; i < 50 && answer.data.find("abc") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    answer = wholeLog(*client);
  }
  EXPECT_EQ(answer.length, answer.data.size());
  EXPECT_NE(answer.data.find("x <span style='color: #00AA00'>abc</span> <span style=''><span "
                             "style='background-color: #FF5555'>&lt;&amp;&gt;\n"),
            std::string::npos);
  // The service's own start-up line, coloured green by the reader for its level.
  EXPECT_NE(answer.data.find("<span style='color: #00AA00'>          webservice  LogLight    "), std::string::npos);
  EXPECT_NE(answer.data.find("Framebuffer is 800x480x32, virtual is 800x960</span>\n"), std::string::npos);
  EXPECT_EQ(answer.data.find('\x1b'), std::string::npos);

  for (const char* query : {"offset=0", "offset=-5", "offset=abc", "offset=99999999", "x=1&offset=3"}) {
    const auto reply = client->request(logRequest(query), "", true);
    ASSERT_TRUE(reply.ended) << query;
    LogAnswer whole = parseLogAnswer(reply.stdoutText);
    EXPECT_EQ(whole.data.size(), whole.length) << query;
    EXPECT_EQ(whole.data.substr(0, answer.data.size()), answer.data) << query;
  }
}

TEST(LogStream, MarkupFromTheWireIsOnlyTextOnThePage) {
  Sandbox unit;
  auto client = connectService(unit);
  const auto all = client->request(
      {{"SCRIPT_NAME", "/api/v1/all.cgi"}, {"HTTP_USER_AGENT", "<img src=x onerror=\"alert(document.cookie)\">"}}, "",
      true);
  ASSERT_TRUE(all.ended);
  ASSERT_NE(call(*client, "/api/v1/<script>alert(2)</script>.cgi", ""), "");
  ASSERT_EQ(unit.run("printf 'cut \\342\\202 and stray \\377 bytes\\n' > /dev/kmsg"), 0);

  const std::string agent = "&lt;img src=x onerror=\"alert(document.cookie)\"&gt;";
  const std::string script = "Unknown script: '/api/v1/&lt;script&gt;alert(2)&lt;/script&gt;.cgi'";
  const std::string bytes = "cut \xEF\xBF\xBD and stray \xEF\xBF\xBD bytes";
  LogAnswer answer;
  for (int i = 0; i < 50 && answer.data.find(bytes) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    answer = wholeLog(*client);
  }
  EXPECT_NE(answer.data.find(agent), std::string::npos);
  EXPECT_NE(answer.data.find(script), std::string::npos);
  EXPECT_NE(answer.data.find(bytes), std::string::npos);
  EXPECT_EQ(answer.length, answer.data.size());
  EXPECT_EQ(logmarkup::foreignMarkupAt(answer.data), std::string::npos) << answer.data;
}

TEST(Screen, PngOfThePageOnDisplay) {
  Sandbox unit;
  auto client = connectService(unit);
  std::string answer = screen(*client);
  ASSERT_EQ(answer.substr(0, kPngHead.size() + 8), kPngHead + "\x89PNG\r\n\x1a\n");
  Image first = decodePng(answer.substr(kPngHead.size()));
  ASSERT_EQ(first.width, 800u);
  ASSERT_EQ(first.height, 480u);
  EXPECT_EQ(first.at(150, 100), (std::vector<int>{255, 255, 0, 255})) << "yellow bar of page 1";

  ASSERT_EQ(unit.run("unit-simulator framebuffer /dev/fb0 --page 2"), 0);
  Image second = decodePng(screen(*client).substr(kPngHead.size()));
  ASSERT_EQ(second.width, 800u);
  EXPECT_EQ(second.at(0, 100), (std::vector<int>{20, 40, 120, 255})) << "dark square of page 2";
  EXPECT_EQ(second.at(40, 100), (std::vector<int>{240, 140, 20, 255})) << "light square of page 2";
}

TEST(Screen, CaptureFailureIsAFailedRequestAndTheServiceGoesOn) {
  Sandbox unit;
  auto client = connectService(unit);
  // 16 bits per pixel: the capture refuses the frame.
  ASSERT_EQ(unit.run("printf '\\020\\000\\000\\000' | dd of=/dev/fb0 bs=1 seek=32 conv=notrunc status=none"), 0);
  std::string answer = screen(*client);
  ASSERT_EQ(answer.substr(0, kJsonHead.size()), kJsonHead);
  const auto failure = nlohmann::json::parse(answer.substr(kJsonHead.size()));
  EXPECT_EQ(failure["result"], 0);
  EXPECT_NE(failure["error"].get<std::string>().find("16 bits per pixel"), std::string::npos);

  ASSERT_EQ(unit.run("unit-simulator framebuffer /dev/fb0"), 0);
  EXPECT_EQ(decodePng(screen(*client).substr(kPngHead.size())).width, 800u);
}

TEST(OneWire, RoutesEndAtOnceAndTheRingTextReachesTheToolUnchanged) {
  Sandbox unit;
  auto client = connectService(unit);
  const auto modem = client->request({{"SCRIPT_NAME", "/api/v1/modemdata.cgi"}}, R"({"devType": "A"})", true);
  ASSERT_TRUE(modem.ended);
  EXPECT_EQ(modem.stdoutText, kJsonHead);

  const std::string value = "it's \"$(touch /tmp/pwned)\" `id` ; | >x";
  const auto ring = client->request({{"SCRIPT_NAME", "/api/v1/premarkeddata.cgi"}},
                                    nlohmann::json{{"ringType", "Iris"}, {"irisValue", value}}.dump(), true);
  const std::time_t seconds = std::time(nullptr);
  std::tm now{};
  ::localtime_r(&seconds, &now);
  ASSERT_TRUE(ring.ended);
  EXPECT_EQ(ring.stdoutText, kJsonHead);
  const int dateCode = 100 * (now.tm_year - 100) + (now.tm_yday - now.tm_wday + 7) / 7;
  EXPECT_EQ(readFile(unit.stateDir() + "/onewire-tool.input"), std::to_string(dateCode) + "\n4\n" + value + "\n\n");
  EXPECT_EQ(readFile(unit.stateDir() + "/onewire-tool.args"), "-e -m knob\n");
  EXPECT_TRUE(unit.waitForKmsg("onewire-tool.py: "));
  EXPECT_TRUE(unit.waitForKmsg("Premarked-ring encryption successful"));
  EXPECT_EQ(unit.run("test ! -e /tmp/pwned"), 0);

  std::ofstream(unit.stateDir() + "/onewire-tool.fail").close();
  const auto failed = client->request({{"SCRIPT_NAME", "/api/v1/premarkeddata.cgi"}},
                                      R"({"ringType": "Iris", "irisValue": "2.8"})", true);
  ASSERT_TRUE(failed.ended);
  EXPECT_TRUE(unit.waitForKmsg("Error during calling onewire-tool.py"));
  EXPECT_TRUE(unit.waitForKmsg("no answer from the 1-Wire memory")) << "the tool's errors reach the kernel log";
  EXPECT_EQ(wholeState(*client)["variables"]["MemServiceMode"]["ServiceModeWritingToRing1Wire"]["value"], "false");
}

TEST(OneWire, ToolThatNeverEndsFailsTheRouteAfterItsBoundAndTheServiceGoesOn) {
  Sandbox unit;
  auto client = connectService(unit);
  std::ofstream(unit.stateDir() + "/onewire-tool.hang").close();
  const auto start = std::chrono::steady_clock::now();
  client->sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/premarkeddata.cgi"}},
                                            R"({"ringType": "Iris", "irisValue": "2.8"})", true, 1));
  ASSERT_TRUE(unit.waitForKmsg("waiting for the 1-Wire bus"));
  // Asked while the tool hangs: answered once the service has given up on it.
  auto other = connectService(unit);
  other->sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/nothing.cgi"}}, "", true, 1));

  const auto ring = client->readReply(60000);
  ASSERT_TRUE(ring.ended);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(ring.stdoutText, kJsonHead);
  const auto unknown = other->readReply(5000);
  ASSERT_TRUE(unknown.ended);
  EXPECT_NE(unknown.stdoutText.find("Unknown script: '/api/v1/nothing.cgi'"), std::string::npos);
  EXPECT_TRUE(unit.waitForKmsg("onewire-tool.py did not end within 30000 ms"));
  EXPECT_TRUE(unit.waitForKmsg("Error during calling onewire-tool.py"));
  EXPECT_NE(unit.run("pgrep -f '[o]newire-tool'"), 0) << "the tool is ended";
  EXPECT_EQ(wholeState(*client)["variables"]["MemServiceMode"]["ServiceModeWritingToRing1Wire"]["value"], "false");
}

}  // namespace
