#include "apps/web/service/logging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "apps/web/service/logconverter.h"
#include "tests/unit/kernel_log_capture.h"

namespace {

// Runs the poll until done() holds or five seconds have passed.
bool pollUntil(EventPoll& poll, const std::function<bool()>& done) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); !done(); poll.wait(20, true))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// Members of a process group that still run; ended ones may linger as zombies until their new parent reaps them.
int liveMembers(pid_t group) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    char state = 0;
    int parent = 0, processGroup = 0;  // pid (comm) state ppid pgrp ...
    if (std::getline(stat, line) &&
        std::sscanf(line.c_str() + line.rfind(')') + 2, "%c %d %d", &state, &parent, &processGroup) == 3)
      count += processGroup == group && state != 'Z';
  }
  return count;
}

}  // namespace

TEST(Logging, GathersTheChildOutputUntilItEndsThenLetsGoAndEndsTheWholeChildGroup) {
  // Long enough for many full chunks, with sequences cut by chunk ends at every offset.
  std::string input;
  for (int i = 0; i < 400; ++i) input += "\x1b[3" + std::to_string(i % 8) + "mline " + std::to_string(i) + "\x1b[0m\n";
  LogText converted;
  LogConverter().convert(input.data(), input.size(), converted);
  const std::string expected(converted.view());

  const size_t logSeen = testsupport::kernelLogText().size();
  EventPoll poll;
  Logging logging(poll, {"printf", "%s", input});
  logging.init();
  EXPECT_TRUE(pollUntil(poll, [&] { return logging.getHtml().size() >= expected.size(); }));
  EXPECT_EQ(logging.getHtml(), expected);
  // After the hang-up the pipe is no longer watched: the poll falls quiet and the text stays.
  EXPECT_TRUE(pollUntil(poll, [&] { return poll.wait(50, true) == EventPoll::Timeout; }));
  EXPECT_EQ(logging.getHtml(), expected);
  const std::string log = testsupport::kernelLogSince(logSeen);
  const size_t warning = log.find("dmesg exited, no more log output for web gui.");
  EXPECT_NE(warning, std::string::npos);
  EXPECT_EQ(log.find("dmesg exited", warning + 1), std::string::npos) << "reported once";

  // Output written just before the end is kept.
  Logging last(poll, {"sh", "-c", "printf '\\033[31mlast words\\033[0m'; exit 3"});
  last.init();
  // Usually the child has written and gone before the poll looks: one hang-up report for both. On a
  // loaded machine it may come later, so the wait is for the text, not for a quiet poll.
  ::usleep(200000);
  EXPECT_TRUE(pollUntil(poll, [&] { return last.getHtml() == "<span style='color: #AA0000'>last words</span>"; }));
  ASSERT_TRUE(pollUntil(poll, [&] { return poll.wait(50, true) == EventPoll::Timeout; }));

  pid_t obedient = 0, stubborn = 0;
  {
    // Neither shell execs its last command, so the shell and its sleep are two processes.
    Logging polite(poll, {"sh", "-c", "echo $$; sleep 30; true"});
    Logging deaf(poll, {"sh", "-c", "trap '' TERM; echo $$; sleep 30; true"});
    polite.init();
    deaf.init();
    ASSERT_TRUE(pollUntil(poll, [&] {
      return polite.getHtml().find('\n') != std::string::npos && deaf.getHtml().find('\n') != std::string::npos;
    }));
    obedient = std::stoi(std::string(polite.getHtml()));
    stubborn = std::stoi(std::string(deaf.getHtml()));
    EXPECT_TRUE(pollUntil(poll, [&] { return liveMembers(obedient) == 2 && liveMembers(stubborn) == 2; }));
  }
  EXPECT_EQ(liveMembers(obedient), 0);
  EXPECT_EQ(liveMembers(stubborn), 0);
}

TEST(Logging, AnswerStartFollowsTheOffsetTheBrowserHas) {
  EXPECT_EQ(Logging::answerStart("offset=4", 10), 4u);
  EXPECT_EQ(Logging::answerStart("offset=4&t=17", 10), 4u) << "what follows the digits is ignored";
  EXPECT_EQ(Logging::answerStart("offset= +4", 10), 4u);
  EXPECT_EQ(Logging::answerStart("offset=10", 10), std::nullopt) << "nothing new: wait";
  EXPECT_EQ(Logging::answerStart("offset=0", 0), 0u) << "an empty log is answered at once";
  // Past what an int or a 32-bit size holds, as on a unit that has logged for weeks.
  EXPECT_EQ(Logging::answerStart("offset=4294967300", 5000000000), 4294967300u);
  EXPECT_EQ(Logging::answerStart("offset=5000000000", 5000000000), std::nullopt);

  for (const char* whole :
       {"", "t=1&offset=4", "offset=0", "offset=11", "offset=", "offset=abc", "offset=-3", "offset=-0",
        "offset=99999999999", "offset=4294967300", "offset=99999999999999999999", "Offset=4"})
    EXPECT_EQ(Logging::answerStart(whole, 10), 0u) << whole;
}
