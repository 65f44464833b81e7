// The kernel-log stream, the screenshot and the 1-Wire routes of the running service inside the unit
// sandbox, with the sandbox's dmesg and onewire-tool.py stand-ins and the simulator's frame buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "apps/web/service/test/log_markup_check.h"
#include "tests/integration/sandbox_harness.h"

namespace {

const std::string kJsonHead = "Content-type: application/json\r\n\r\n";

// The length line, then the data, of a log answer after its head.
std::pair<size_t, std::string> logAnswer(fcgiclient::FcgiClient& client, const std::string& query) {
  const auto reply = client.request({{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"QUERY_STRING", query}}, "", true);
  const std::string head = "Content-type: text/html\r\n\r\n";
  EXPECT_TRUE(reply.ended && reply.stdoutText.starts_with(head)) << reply.stdoutText;
  const size_t lineEnd = reply.stdoutText.find("\r\n", head.size());
  return {std::stoul(reply.stdoutText.substr(head.size())), reply.stdoutText.substr(lineEnd + 2)};
}

std::string screen(fcgiclient::FcgiClient& client) {
  return client.request({{"SCRIPT_NAME", "/api/v1/screen.cgi"}}, "", true).stdoutText;
}

TEST(LogScreenOneWire, RoutesOfTheUnitsDevicesAndTheLogWithWhatCameFromTheWireAsText) {
  Sandbox unit;
  auto client = connectService(unit);
  // The modem route ends at once (the ring route has tests of its own).
  EXPECT_EQ(client->request({{"SCRIPT_NAME", "/api/v1/modemdata.cgi"}}, R"({"devType": "A"})", true).stdoutText,
            kJsonHead);

  // A PNG of the display, 800 x 480 by its header chunk.
  const std::string png =
      "Content-type: image/png\r\n\r\n" + std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x03\x20\0\0\x01\xe0", 24);
  EXPECT_EQ(screen(*client).substr(0, png.size()), png);
  // 16 bits per pixel: the capture refuses the frame, and the service goes on.
  ASSERT_EQ(unit.run("printf '\\020\\000\\000\\000' | dd of=/dev/fb0 bs=1 seek=32 conv=notrunc status=none"), 0);
  const std::string refused = screen(*client);
  EXPECT_TRUE(refused.starts_with(kJsonHead + "{\"result\": 0, \"error\": \"")) << refused;
  EXPECT_NE(refused.find("16 bits per pixel"), std::string::npos);
  ASSERT_EQ(unit.run("unit-simulator framebuffer /dev/fb0"), 0);
  EXPECT_EQ(screen(*client).substr(0, png.size()), png);

  // The log: a length line, then the log with what came from the wire as text.
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

}  // namespace
