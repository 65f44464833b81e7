// The kernel-log stream, the screenshot and the 1-Wire routes of the running service inside the unit
// sandbox, with the sandbox's dmesg and onewire-tool.py stand-ins and the simulator's frame buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "apps/web/service/test/log_markup_check.h"
#include "tests/integration/sandbox_harness.h"

namespace {

const std::string kJsonHead = "Content-type: application/json\r\n\r\n";

const std::string kHtmlHead = "Content-type: text/html\r\n\r\n";

// A log answer: its head, its length line and its data.
struct LogAnswer {
  std::string head;
  uint64_t length = 0;
  std::string data;
};

LogAnswer logAnswer(fcgiclient::FcgiClient& client, const std::string& query) {
  const auto reply =
      client.request({{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"QUERY_STRING", query}}, "", true, 1, 0, 30000);
  const std::string& text = reply.stdoutText;
  const size_t headEnd = text.find("\r\n\r\n");
  EXPECT_TRUE(reply.ended && headEnd != std::string::npos) << text.substr(0, 200);
  if (headEnd == std::string::npos) return {};
  const size_t lineEnd = text.find("\r\n", headEnd + 4);
  return {text.substr(0, headEnd + 4), std::stoull(text.substr(headEnd + 4)), text.substr(lineEnd + 2)};
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
  // 16 bits per pixel: the capture refuses the frame, and the service goes on. The display is drawn through
  // the state folder: the service's /dev/fb0 is read-only.
  ASSERT_EQ(
      unit.run("printf '\\020\\000\\000\\000' | dd of=$UNIT_SANDBOX_STATE/fb0 bs=1 seek=32 conv=notrunc status=none"),
      0);
  const std::string refused = screen(*client);
  EXPECT_TRUE(refused.starts_with(kJsonHead + "{\"result\": 0, \"error\": \"")) << refused;
  EXPECT_NE(refused.find("16 bits per pixel"), std::string::npos);
  ASSERT_EQ(unit.run("unit-simulator framebuffer $UNIT_SANDBOX_STATE/fb0"), 0);
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
  LogAnswer answer;
  for (int i = 0; i < 50 && answer.data.find(written) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    answer = logAnswer(*client, "");
  }
  EXPECT_EQ(answer.head, kHtmlHead);
  EXPECT_EQ(answer.length, answer.data.size());
  EXPECT_NE(answer.data.find(written), std::string::npos);
  EXPECT_NE(answer.data.find("&lt;img src=x onerror=\"y\"&gt;"), std::string::npos);
  EXPECT_NE(answer.data.find("Unknown script: '/api/v1/&lt;script&gt;alert(2)&lt;/script&gt;.cgi'"), std::string::npos);
  // The service's own start-up line, coloured green by the reader for its level.
  EXPECT_NE(answer.data.find("<span style='color: #00AA00'>          webservice  LogLight    "), std::string::npos);
  EXPECT_EQ(logmarkup::foreignMarkupAt(answer.data), std::string::npos) << answer.data;

  // An offset counts from the stream's start; the length line is still the stream's whole length.
  const auto tail = logAnswer(*client, "offset=3");
  EXPECT_EQ(tail.head, kHtmlHead);
  EXPECT_EQ(tail.data.size() + 3, tail.length);
  EXPECT_EQ(tail.data.substr(0, answer.data.size() - 3), answer.data.substr(3));
}

TEST(LogScreenOneWire, AnOffsetIntoTheDroppedTextGetsTheKeptLinesWithWhereTheyStartAndTheNextPollOnlyWhatIsNew) {
  Sandbox unit;
  auto client = connectService(unit);
  ASSERT_EQ(call(*client, "/api/v1/set.cgi", "{'MemApp':{'AppServiceLogLevel':'Warn'}}"), "{\"result\": 1 }");
  // 8 MB once converted, well beyond the 4 MiB kept and the quarter more it may grow: lines the
  // reader colours as warnings, with a character and markup of the text that a blind cut would split.
  const std::string line = "              filler  Warn        flood.cpp:  12 w\xC3\xA4rm <b> & text to fill the line";
  const std::string converted =
      "<span style='color: #AAAA00'>              filler  Warn        flood.cpp:  12 "
      "w\xC3\xA4rm &lt;b&gt; &amp; text to fill the line</span>\n";
  ASSERT_EQ(unit.run("yes '" + line + "' | head -n 60000 > /dev/kmsg && echo 'end of flood' > /dev/kmsg"), 0);
  ASSERT_TRUE(unit.waitForKmsg("end of flood", 30000));

  // The console asks from where it stood before the flood, now long dropped.
  LogAnswer moved;
  // The service's own lines may follow the flood: a slow machine's loop-turn warning.
  const auto flooded = [&moved] { return moved.data.find("end of flood\n") != std::string::npos; };
  for (int i = 0; i < 100 && !flooded(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    moved = logAnswer(*client, "offset=3");
  }
  ASSERT_TRUE(flooded());
  const uint64_t start = moved.length - moved.data.size();
  EXPECT_GT(start, 3u);
  EXPECT_EQ(moved.head, "Content-type: text/html\r\nX-Log-Start: " + std::to_string(start) + "\r\n\r\n");
  EXPECT_GT(moved.data.size(), 3u << 20);
  EXPECT_LE(moved.data.size(), 5u << 20);
  // Cut where a line starts: no tail of a line, no closing tag without its opening one.
  EXPECT_EQ(moved.data.substr(0, converted.size()), converted);
  EXPECT_EQ(logmarkup::foreignMarkupAt(moved.data), std::string::npos);

  // Offsets in the kept part and the whole text are answered as ever, without the head line, and may run
  // longer by the service's own lines. The megabytes are compared as booleans: a printed difference of them
  // would take more memory than a test has.
  const auto whole = logAnswer(*client, "offset=0");
  EXPECT_EQ(whole.head, kHtmlHead);
  EXPECT_EQ(whole.length - whole.data.size(), start);
  EXPECT_TRUE(whole.data.starts_with(moved.data));
  const auto within = logAnswer(*client, "offset=" + std::to_string(start + converted.size()));
  EXPECT_EQ(within.head, kHtmlHead);
  EXPECT_TRUE(within.data.starts_with(std::string_view(moved.data).substr(converted.size())));

  // The console's next poll starts where the moved answer ended: only what is new comes, whether the
  // request found it there or waited for it.
  ASSERT_EQ(unit.run("echo 'after the flood' > /dev/kmsg"), 0);
  LogAnswer next;
  for (uint64_t from = moved.length; !next.data.ends_with("after the flood\n"); from = next.length) {
    next = logAnswer(*client, "offset=" + std::to_string(from));
    EXPECT_EQ(next.head, kHtmlHead);
    ASSERT_EQ(next.data.find("filler"), std::string::npos) << next.data.substr(0, 200);
    ASSERT_LT(next.data.size(), 4096u);
    if (next.length == from) next.length += next.data.size();  // a request that waited reports its offset
  }
}

}  // namespace
