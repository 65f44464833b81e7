// The kernel-log stream, the screenshot and the 1-Wire routes of the running service inside the unit
// sandbox, with the sandbox's dmesg and onewire-tool.py stand-ins and the simulator's frame buffer.
#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "apps/web/service/test/log_markup_check.h"
#include "tests/integration/sandbox_harness.h"

namespace {

const std::string kPngHead = "Content-type: image/png\r\n\r\n";
const std::string kJsonHead = "Content-type: application/json\r\n\r\n";

// The length line, then the data, of a log answer after its head.
std::pair<size_t, std::string> logAnswer(fcgiclient::FcgiClient& client, const std::string& query) {
  const auto reply = client.request({{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"QUERY_STRING", query}}, "", true);
  const std::string head = "Content-type: text/html\r\n\r\n";
  EXPECT_TRUE(reply.ended && reply.stdoutText.starts_with(head)) << reply.stdoutText;
  const size_t lineEnd = reply.stdoutText.find("\r\n", head.size());
  return {std::stoul(reply.stdoutText.substr(head.size())), reply.stdoutText.substr(lineEnd + 2)};
}

// Width and the RGBA pixel at (x, y) of a screen answer.
std::pair<uint32_t, std::vector<int>> decodeScreen(fcgiclient::FcgiClient& client, uint32_t x, uint32_t y) {
  const std::string answer = client.request({{"SCRIPT_NAME", "/api/v1/screen.cgi"}}, "", true).stdoutText;
  EXPECT_EQ(answer.substr(0, kPngHead.size() + 8), kPngHead + "\x89PNG\r\n\x1a\n");
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, answer.data() + kPngHead.size(), answer.size() - kPngHead.size()))
    return {0, {}};
  png.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(png));
  EXPECT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr)) << png.message;
  EXPECT_EQ(png.height, 480u);
  const unsigned char* p = &rgba[(size_t(y) * png.width + x) * 4];
  return {png.width, {p[0], p[1], p[2], p[3]}};
}

TEST(LogStream, LengthLineThenTheLogWithWhatCameFromTheWireAsText) {
  Sandbox unit;
  auto client = connectService(unit);
  ASSERT_TRUE(
      client->request({{"SCRIPT_NAME", "/api/v1/all.cgi"}, {"HTTP_USER_AGENT", "<img src=x onerror=\"y\">"}}, "", true)
          .ended);
  ASSERT_NE(call(*client, "/api/v1/<script>alert(2)</script>.cgi", ""), "");
  // Quiet from here: the service's own debug lines would keep the log growing by themselves.
  ASSERT_EQ(call(*client, "/api/v1/set.cgi", "{'MemApp':{'AppServiceLogLevel':'Warn'}}"), "{\"result\": 1 }");
  ASSERT_EQ(unit.run("printf 'x \\033[32mabc\\033[0m cut \\342\\202 and stray \\377 bytes\\n' > /dev/kmsg"), 0);

  const std::string written = "x <span style='color: #00AA00'>abc</span> cut \xEF\xBF\xBD and stray \xEF\xBF\xBD bytes";
  std::pair<size_t, std::string> answer;
  for (int i = 0; i < 50 && answer.second.find(written) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    answer = logAnswer(*client, "");
  }
  EXPECT_EQ(answer.first, answer.second.size());
  EXPECT_NE(answer.second.find(written), std::string::npos);
  EXPECT_NE(answer.second.find("&lt;img src=x onerror=\"y\"&gt;"), std::string::npos);
  EXPECT_NE(answer.second.find("Unknown script: '/api/v1/&lt;script&gt;alert(2)&lt;/script&gt;.cgi'"),
            std::string::npos);
  // The service's own start-up line, coloured green by the reader for its level.
  EXPECT_NE(answer.second.find("<span style='color: #00AA00'>          webservice  LogLight    "), std::string::npos);
  EXPECT_EQ(logmarkup::foreignMarkupAt(answer.second), std::string::npos) << answer.second;

  // An offset counts from the stream's start; the length line is still the stream's whole length.
  const auto tail = logAnswer(*client, "offset=3");
  EXPECT_EQ(tail.second.size() + 3, tail.first);
  EXPECT_EQ(tail.second.substr(0, answer.second.size() - 3), answer.second.substr(3));
}

TEST(Screen, PngOfThePageOnDisplayAndAFailedCaptureIsAFailedRequest) {
  Sandbox unit;
  auto client = connectService(unit);
  EXPECT_EQ(decodeScreen(*client, 150, 100), std::pair(800u, std::vector<int>{255, 255, 0, 255})) << "yellow bar";

  // 16 bits per pixel: the capture refuses the frame.
  ASSERT_EQ(unit.run("printf '\\020\\000\\000\\000' | dd of=/dev/fb0 bs=1 seek=32 conv=notrunc status=none"), 0);
  const std::string answer = call(*client, "/api/v1/screen.cgi", "");
  const auto failure = nlohmann::json::parse(answer);
  EXPECT_EQ(failure["result"], 0);
  EXPECT_NE(failure["error"].get<std::string>().find("16 bits per pixel"), std::string::npos);

  ASSERT_EQ(unit.run("unit-simulator framebuffer /dev/fb0 --page 2"), 0);
  EXPECT_EQ(decodeScreen(*client, 40, 100).second, (std::vector<int>{240, 140, 20, 255})) << "light square of page 2";
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
  ASSERT_TRUE(ring.ended);
  EXPECT_EQ(ring.stdoutText, kJsonHead);
  EXPECT_TRUE(readFile(unit.stateDir() + "/onewire-tool.input").ends_with("\n4\n" + value + "\n\n"));
  EXPECT_EQ(readFile(unit.stateDir() + "/onewire-tool.args"), "-e -m knob\n");
  EXPECT_TRUE(unit.waitForKmsg("Premarked-ring encryption successful"));
  EXPECT_EQ(unit.run("test ! -e /tmp/pwned"), 0);
}

}  // namespace
