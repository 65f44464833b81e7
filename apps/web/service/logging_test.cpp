#include "apps/web/service/logging.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
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

TEST(Logging, GathersTheOutputStartsADeadReaderAgainWithoutRepeatsAndEndsTheWholeChildGroup) {
  // Long enough for many full chunks, with sequences cut by chunk ends at every offset.
  std::string input;
  for (int i = 0; i < 400; ++i) input += "\x1b[3" + std::to_string(i % 8) + "mline " + std::to_string(i) + "\x1b[0m\n";
  const std::string later = "\x1b[31mwritten while no reader ran\x1b[0m\n";
  auto html = [](const std::string& raw) {
    LogText converted;
    LogConverter().convert(raw.data(), raw.size(), converted);
    return std::string(converted.view());
  };
  char folder[] = "/tmp/logging_test-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string kernelLog = std::string(folder) + "/kmsg";
  const std::string pidFile = std::string(folder) + "/pid";
  std::ofstream(kernelLog) << input;

  const size_t logSeen = testsupport::kernelLogText().size();
  EventPoll poll;
  // Like the kernel-log reader: the whole buffer, then it stays; its id is left for the kill.
  Logging logging(poll, {"sh", "-c", "echo $$ >" + pidFile + "; cat " + kernelLog + "; exec sleep 30"});
  logging.init();
  EXPECT_TRUE(pollUntil(poll, [&] { return logging.getHtml().size() >= html(input).size(); }));
  EXPECT_EQ(logging.getHtml(), html(input));

  // The reader is killed; the buffer grows before the next one replays it: only that line is new.
  std::ofstream(kernelLog, std::ios::app) << later;
  pid_t reader = 0;
  std::ifstream(pidFile) >> reader;
  ASSERT_GT(reader, 0);
  ASSERT_EQ(::kill(reader, SIGKILL), 0);
  EXPECT_TRUE(pollUntil(poll, [&] { return logging.getHtml().size() >= html(input + later).size(); }));
  EXPECT_EQ(logging.getHtml(), html(input + later));
  // The replay is not merely late: nothing more comes once the new reader has written it all.
  for (int i = 0; i < 30; ++i) poll.wait(20, true);
  EXPECT_EQ(logging.getHtml(), html(input + later));
  std::string log = testsupport::kernelLogSince(logSeen);
  const size_t restarted = log.find("dmesg ended (killed by signal 9); starting it again");
  EXPECT_NE(restarted, std::string::npos) << log;
  EXPECT_EQ(log.find("dmesg ended", restarted + 1), std::string::npos) << "one line per restart";

  // A reader that cannot be started at all is reported once and left alone.
  Logging never(poll, {"/nonexistent/reader"});
  never.init();
  EXPECT_TRUE(pollUntil(poll, [&] {
    return testsupport::kernelLogSince(logSeen).find("dmesg exited, no more log output for web gui.") !=
           std::string::npos;
  }));
  for (int i = 0; i < 60; ++i) poll.wait(20, true);
  log = testsupport::kernelLogSince(logSeen);
  const size_t warning = log.find("dmesg exited, no more log output for web gui.");
  EXPECT_EQ(log.find("dmesg exited", warning + 1), std::string::npos) << "reported once";
  EXPECT_EQ(log.find("dmesg ended", restarted + 1), std::string::npos) << "not started again";
  std::filesystem::remove_all(folder);

  // Output written just before the end is kept, and not repeated by the readers started after it.
  Logging last(poll, {"sh", "-c", "printf '\\033[31mlast words\\033[0m'; exit 3"});
  last.init();
  const std::string words = "<span style='color: #AA0000'>last words</span>";
  EXPECT_TRUE(pollUntil(poll, [&] { return last.getHtml() == words; }));
  for (int i = 0; i < 60; ++i) poll.wait(20, true);
  EXPECT_EQ(last.getHtml(), words);

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
  // The group's other members get the signal with the child, but may take a moment to go.
  EXPECT_TRUE(pollUntil(poll, [&] { return liveMembers(obedient) == 0 && liveMembers(stubborn) == 0; }));
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
