#include <algorithm>
#include <chrono>
#include <cstdio>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/gen.h"
#include "tools/unit-simulator/commands.h"
#include "tools/unit-simulator/demo.h"

int runDemo(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: unit-simulator demo\n");
    return 2;
  }
  gen::init();
  Demo demo;
  // The broker sends every event back, ours too, so the pace is kept by the clock, not by the waits.
  using Clock = std::chrono::steady_clock;
  constexpr auto kStep = std::chrono::milliseconds(1000 / Demo::kStepsPerSecond);
  auto due = Clock::now() + kStep;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
    if (gen::getEventPoll()->wait(static_cast<int>(std::max<long long>(left, 0)), false) == EventPoll::Terminate) break;
    if (Clock::now() < due) continue;
    demo.step();
    due += kStep;
  }
  gen::closeServerConnection();
  return 0;
}
