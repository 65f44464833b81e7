#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/integration/sandbox_harness.h"

namespace {
const std::string kProgram = "          webservice  ";  // right-aligned in 20 columns, two blanks

std::vector<std::string> serviceLines(const std::string& kmsg) {
  std::vector<std::string> lines;
  std::istringstream in(kmsg);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(kProgram, 0) == 0) lines.push_back(line);
  return lines;
}

// Columns after the 22-column program name: 12-column level tag, file base name right-aligned in 20, ':',
// line number in 4 columns, one blank, the message.
::testing::AssertionResult hasLineLayout(const std::string& line) {
  static const char* const tags[] = {"DebugAll    ", "DebugMost   ", "DebugLight  ", "LogAll      ",
                                     "LogMost     ", "LogLight    ", "Warn        ", "Error       "};
  if (line.size() < 60) return ::testing::AssertionFailure() << "too short: \"" << line << "\"";
  bool tagged = false;
  for (const char* tag : tags) tagged = tagged || line.compare(22, 12, tag) == 0;
  if (!tagged) return ::testing::AssertionFailure() << "no level tag at column 22: \"" << line << "\"";
  std::string file = line.substr(34, 20);
  size_t name = file.find_first_not_of(' ');
  if (name == std::string::npos || file.find(' ', name) != std::string::npos || file.find('/') != std::string::npos)
    return ::testing::AssertionFailure() << "no right-aligned base name in columns 34-53: \"" << line << "\"";
  std::string number = line.substr(55, 4);
  size_t digits = number.find_first_not_of(' ');
  if (line[54] != ':' || line[59] != ' ' || digits == std::string::npos ||
      number.find_first_not_of("0123456789", digits) != std::string::npos)
    return ::testing::AssertionFailure() << "no ':' and 4-column line number after the file: \"" << line << "\"";
  return ::testing::AssertionSuccess();
}

void expectOrderlyStop(int signal, const std::string& expectedLine) {
  Sandbox unit;
  ASSERT_TRUE(unit.waitForKmsg("Connected after")) << unit.kmsg();
  ASSERT_TRUE(unit.waitUntilRunning());
  unit.signalService(signal);
  // A liveness bound, not a speed target: the loop turns at least every 100 ms.
  EXPECT_EQ(unit.waitForExit(3000), 0);

  std::vector<std::string> lines = serviceLines(unit.kmsg());
  ASSERT_GE(lines.size(), 2u) << unit.kmsg();
  for (const auto& line : lines) EXPECT_TRUE(hasLineLayout(line));
  std::vector<std::string> signalLines;
  for (const auto& line : lines)
    if (line.find(" SIG ") != std::string::npos) signalLines.push_back(line);
  ASSERT_EQ(signalLines.size(), 1u) << unit.kmsg();
  EXPECT_EQ(signalLines[0].substr(0, 55), kProgram + "LogLight           eventpoll.cpp:");
  EXPECT_EQ(signalLines[0].substr(59), " " + expectedLine);
}
}  // namespace

TEST(ProcessFrame, SigtermEndsTheLoopWithItsLineAndStatusZero) { expectOrderlyStop(SIGTERM, "SIG 15: Terminated"); }

TEST(ProcessFrame, LinesAreFilteredOnlyOnceTheLevelIsBound) {
  // AppServiceLogLevel (offset 0 of MemApp's payload, after the 4-byte size word) set to Error before start.
  Sandbox unit(
      "start-unit.sh -- /bin/sh -c 'printf \"\\007\\000\\000\\000\" | "
      "dd of=/dev/shm/MemApp bs=1 seek=4 conv=notrunc status=none && exec webservice'");
  ASSERT_TRUE(unit.waitForKmsg("Connected after")) << unit.kmsg();
  ASSERT_TRUE(unit.waitUntilRunning());
  unit.signalService(SIGTERM);
  EXPECT_EQ(unit.waitForExit(3000), 0);

  std::string kmsg = unit.kmsg();
  EXPECT_NE(kmsg.find("LogLight    serverconnection.cpp:"), std::string::npos) << kmsg;  // written before binding
  EXPECT_NE(kmsg.find("DebugMost          eventpoll.cpp:"), std::string::npos) << kmsg;
  EXPECT_EQ(kmsg.find("SIG 15"), std::string::npos) << kmsg;  // LogLight, below Error once bound
  EXPECT_EQ(kmsg.find("Remove  client"), std::string::npos) << kmsg;
}
