// What the change feed costs the loop: numbering one change, the check a pass makes per waiting
// follower, and the document of the variables changed after a sequence, beside the pass document of
// the same changes for the clients without a sequence.
#include <benchmark/benchmark.h>

#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/changedevents.h"

namespace {

constexpr uint64_t kStart = 1'800'000'000'000'000;

// The events of the first `count` rows of the catalogue.
std::vector<uint32_t> rowEvents(size_t count) {
  std::vector<uint32_t> events;
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
    for (unsigned int var = 0; var < Introspection::getVarCount(mem) && events.size() < count; ++var)
      events.push_back(Introspection::getVarEvent(mem, var).event);
  return events;
}

void markOneChange(benchmark::State& state) {
  ChangedEvents events(kStart);
  uint32_t event = 6;
  for (auto _ : state) {
    benchmark::DoNotOptimize(events.mark(event));
    event = event == ChangedEvents::kEventCount - 1 ? 6 : event + 1;
  }
}
BENCHMARK(markOneChange);

// A pass without a change asks each of up to 32 waiting followers this.
void checkOneFollower(benchmark::State& state) {
  ChangedEvents events(kStart);
  for (uint32_t event : rowEvents(933)) events.mark(event);
  uint64_t since = events.sequence();
  for (auto _ : state) {
    benchmark::DoNotOptimize(events.vouchesFor(since) && events.changedSince(since));
    benchmark::DoNotOptimize(since);
  }
}
BENCHMARK(checkOneFollower);

void documentOfChangesSince(benchmark::State& state) {
  TestPayloads segments;
  ChangedEvents events(kStart);
  for (uint32_t event : rowEvents(static_cast<size_t>(state.range(0)))) events.mark(event);
  for (auto _ : state) benchmark::DoNotOptimize(events.documentSince(kStart));
}
BENCHMARK(documentOfChangesSince)->Arg(1)->Arg(10)->Arg(100)->Arg(933);

void passDocumentOfTheSameChanges(benchmark::State& state) {
  TestPayloads segments;
  ChangedEvents events(kStart);
  const std::vector<uint32_t> changed = rowEvents(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    for (uint32_t event : changed) events.mark(event);
    benchmark::DoNotOptimize(events.takeDocument());
  }
}
BENCHMARK(passDocumentOfTheSameChanges)->Arg(1)->Arg(10)->Arg(100)->Arg(933);

}  // namespace

BENCHMARK_MAIN();
