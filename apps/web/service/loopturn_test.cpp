#include "apps/web/service/loopturn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "apps/common/log/log.h"
#include "tests/unit/kernel_log_capture.h"

using testing::HasSubstr;
using namespace std::chrono_literals;

TEST(LoopTurn, ATurnPastTheBoundIsWarnedWithWhatItServedAndShorterOnesAreMeasuredFromAMillisecond) {
  gen::LogLevel threshold = gen::DebugAll;
  gComponentLogLevel = &threshold;
  size_t seen = testsupport::kernelLogText().size();
  const auto newLog = [&] {
    std::string text = testsupport::kernelLogSince(seen);
    seen += text.size();
    return text;
  };
  LoopTurn turn;
  const auto began = LoopTurn::Clock::now();

  turn.note("/api/v1/screen.cgi");
  turn.note("/qorapp/v1/lenstables/file/a\nb\xff");
  turn.end(began, began + 150ms);
  EXPECT_THAT(newLog(),
              testing::ContainsRegex("A turn of the loop took 150 ms, [0-9]+ ms processor: /api/v1/screen.cgi, "
                                     "/qorapp/v1/lenstables/file/a\\?b\\?\n"));
  turn.note("/api/v1/all.cgi");
  turn.end(began, began + 100ms + 1us);
  EXPECT_THAT(newLog(), testing::ContainsRegex("took 100 ms, [0-9]+ ms processor: /api/v1/all.cgi\n"));
  turn.end(began, began + 100ms);
  EXPECT_THAT(newLog(),
              testing::ContainsRegex("Loop turn of 100000 us, [0-9]+ us processor: connection input and output\n"))
      << "what the last turn served is forgotten";
  turn.end(began, began + 999us);
  EXPECT_EQ(newLog(), "");

  threshold = gen::LogLight;
  turn.note("/api/v1/set.cgi");
  turn.end(began, began + 50ms);
  EXPECT_EQ(newLog(), "") << "the measuring line is a debug line";
  turn.end(began, began + 101ms);
  EXPECT_THAT(newLog(), testing::ContainsRegex("took 101 ms, [0-9]+ ms processor: connection input and output"));

  // Hostile paths: printable in the line, and no longer than a line may be.
  for (int i = 0; i < 100; ++i) turn.note(std::string(50, 'x'));
  turn.end(began, began + 1s);
  EXPECT_LT(newLog().size(), 400u);
  gComponentLogLevel = nullptr;
}
