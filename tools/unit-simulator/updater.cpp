// Plays the unit's update machinery: checks a file once its name is announced, and installs it
// once the start variable is set, moving state, progress, index and count as it goes.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/gen.h"
#include "tools/unit-simulator/commands.h"
#include "tools/unit-simulator/variable.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kStep = std::chrono::milliseconds(150);

// The update of one target (the unit itself or an accessory), as a queue of timed steps.
class Target {
 public:
  Target(const char* memory, const char* fileName, const char* state, const char* start, const char* progress,
         const char* index, const char* count)
      : fileName(memory, fileName), state(memory, state), start(memory, start) {
    if (progress != nullptr) parts.emplace_back(Variable(memory, progress), Variable(memory, index));
    if (count != nullptr) partCount.emplace_back(memory, count);
  }

  void handle(uint32_t event) {
    if (event == fileName.event()) {
      std::string name(fileName.address(), strnlen(fileName.address(), 128));
      steps.clear();
      if (name.empty()) return;
      then([this] { state.set("CheckingFile"); });
      then([this, name] { state.set(verdict(name)); });
    } else if (event == start.event() && start.address()[0] == 1 &&
               state.number() == catalogue::UpdateState::FileValid) {
      steps.clear();
      install();
    }
  }

  void run(Clock::time_point now) {
    while (!steps.empty() && steps.front().first <= now) {
      auto step = std::move(steps.front().second);
      steps.pop_front();
      step();
    }
  }

 private:
  static const char* verdict(const std::string& name) {
    struct stat status;
    if (stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return "FileNotFound";
    if (status.st_size == 0) return "FileCorrupt";
    std::ifstream file(name, std::ios::binary);
    char head[12] = {};
    file.read(head, sizeof head);
    // A marker that lets tests drive the incompatible outcome.
    if (std::string(head, static_cast<size_t>(file.gcount())) == "INCOMPATIBLE") return "FileNotCompatible";
    return "FileValid";
  }

  void install() {
    then([this] { state.set("CopyingFile"); });
    then([this] { state.set("InProgress"); });
    constexpr int kParts = 2;
    if (!parts.empty()) {
      for (int part = 0; part < kParts; ++part) {
        // One step for all, so that no status request sees a new part with the old part's progress.
        then([this, part] {
          parts.front().first.set("0");
          parts.front().second.set(std::to_string(part));
          partCount.front().set(std::to_string(kParts));
        });
        for (int percent = 25; percent <= 100; percent += 25)
          then([this, percent] { parts.front().first.set(std::to_string(percent)); });
      }
    }
    then([this] { state.set("Success"); });
    then([this] { start.set("false"); });
  }

  void then(std::function<void()> step) {
    Clock::time_point due = steps.empty() ? Clock::now() : steps.back().first;
    steps.emplace_back(due + kStep, std::move(step));
  }

  Variable fileName, state, start;
  std::vector<std::pair<Variable, Variable>> parts;  // progress and index, for accessories
  std::vector<Variable> partCount;
  std::deque<std::pair<Clock::time_point, std::function<void()>>> steps;
};

class Updater : public ServerConnection::EventHandler {
 public:
  void handleEvent(Notify const& notify) override {
    host.handle(notify.event);
    accessory.handle(notify.event);
  }
  void run() {
    host.run(Clock::now());
    accessory.run(Clock::now());
  }

 private:
  Target host{"MemMedia", "HostUpdateFileName", "HostUpdateFileState", "HostUpdateStart", nullptr, nullptr, nullptr};
  Target accessory{"MemExternalDevices", "PeltUpdateFileName", "PeltUpdateState", "PeltUpdateStart",
                   "PeltUpdateProgress", "PeltUpdateIndex",    "PeltUpdateCount"};
};
}  // namespace

int runUpdater(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: unit-simulator updater\n");
    return 2;
  }
  gen::init();
  Updater updater;
  gen::getServerConnection()->eventHandler = &updater;
  while (gen::getEventPoll()->wait(50, false) != EventPoll::Terminate) updater.run();
  gen::closeServerConnection();
  return 0;
}
