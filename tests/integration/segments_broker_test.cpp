#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/sandbox_harness.h"

namespace {
const std::string kService = "          webservice  ";

std::vector<std::string> serviceLines(const std::string& kmsg) {
  std::vector<std::string> lines;
  std::istringstream in(kmsg);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(kService, 0) == 0) lines.push_back(line);
  return lines;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A start-up that fails must end the process on its Error line, before any listener exists.
void expectStartUpEndsWith(const std::string& startup, const std::string& lastMessage) {
  Sandbox unit(startup);
  EXPECT_EQ(unit.waitForExit(15000), 128 + SIGABRT);
  std::vector<std::string> lines = serviceLines(unit.kmsg());
  ASSERT_FALSE(lines.empty()) << unit.kmsg();
  EXPECT_EQ(lines.back().substr(22, 12), "Error       ") << lines.back();
  const std::string& last = lines.back();
  EXPECT_TRUE(last.size() >= lastMessage.size() &&
              last.compare(last.size() - lastMessage.size(), std::string::npos, lastMessage) == 0)
      << last;
}

// AppServiceLogLevel is the first word of MemApp's payload, behind the segment's size word.
std::string setServiceLogLevel(int level) {
  return "python3 -c \"import os; f = os.open('/dev/shm/MemApp', os.O_RDWR); os.pwrite(f, (" + std::to_string(level) +
         ").to_bytes(4, 'little'), 4)\"";
}
}  // namespace

TEST(SegmentsAndBroker, AMissingOrMisSizedSegmentEndsStartUp) {
  expectStartUpEndsWith("start-unit.sh --create-option --skip --create-option MemLens",
                        " /MemLens: No such file or directory");
  expectStartUpEndsWith("start-unit.sh --create-option --size --create-option MemDynamic=431",
                        " Memory size missmatch for /MemDynamic, requested 432, is 431.");
}

TEST(SegmentsAndBroker, WithoutBrokerStartUpGivesUpOnTheSemaphore) {
  Sandbox unit("start-unit.sh --no-broker");
  EXPECT_EQ(unit.waitForExit(15000), 128 + SIGABRT);
  std::vector<std::string> lines = serviceLines(unit.kmsg());
  ASSERT_GE(lines.size(), 2u) << unit.kmsg();
  EXPECT_NE(lines[lines.size() - 2].find(" Waiting for server"), std::string::npos) << unit.kmsg();
  EXPECT_NE(lines.back().find(" sem_open: No such file or directory"), std::string::npos) << unit.kmsg();
}

TEST(SegmentsAndBroker, ConnectsSubscribesAndOutlivesTheBroker) {
  Sandbox unit("start-unit.sh --broker-trace");
  ASSERT_TRUE(unit.waitForKmsg("Connected after 0 attempts")) << unit.kmsg();
  ASSERT_TRUE(unit.waitUntilRunning());
  EXPECT_NE(unit.kmsg().find(" Waiting for server\n"), std::string::npos);

  // The broker's first client is the service; its first record subscribes it to everything.
  std::string brokerLog;
  for (int i = 0; i < 100 && brokerLog.find(" sent ") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    brokerLog = fileText(unit.stateDir() + "/broker.log");
  }
  std::istringstream in(brokerLog);
  std::string firstRecord;
  for (std::string line; std::getline(in, line) && firstRecord.empty();)
    if (line.find(" sent ") != std::string::npos) firstRecord = line;
  EXPECT_EQ(firstRecord, "message-broker: client 1 sent 3 0 0") << brokerLog;

  // Other processes of the unit post through the same broker, by event name or number.
  EXPECT_EQ(unit.run("unit-simulator post CalibAllMotor && unit-simulator post 4000 1 7"), 0);
  brokerLog = fileText(unit.stateDir() + "/broker.log");
  EXPECT_NE(brokerLog.find("client 2 sent 5 0 0\n"), std::string::npos) << brokerLog;
  EXPECT_NE(brokerLog.find("client 3 sent 4000 1 7\n"), std::string::npos) << brokerLog;

  EXPECT_EQ(unit.run("kill $(cat \"$UNIT_SANDBOX_STATE/broker.pid\")"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(::kill(unit.servicePid(), 0), 0) << "the service must keep running without its broker";
  unit.signalService(SIGTERM);
  EXPECT_EQ(unit.waitForExit(3000), 0) << unit.kmsg();
}

TEST(SegmentsAndBroker, TheServiceLogLevelInSharedMemoryFiltersItsLinesAtOnce) {
  Sandbox unit;
  ASSERT_TRUE(unit.waitUntilRunning());
  ASSERT_EQ(unit.run(setServiceLogLevel(7)), 0);  // Error: the stop line (LogLight) is no longer written
  unit.signalService(SIGTERM);
  EXPECT_EQ(unit.waitForExit(3000), 0);
  EXPECT_EQ(unit.kmsg().find("SIG 15: Terminated"), std::string::npos) << unit.kmsg();
}
