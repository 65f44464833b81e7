// Renders the whole-state variables tree over segments holding the simulator's start values.
#include <benchmark/benchmark.h>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection/testdocument.h"

namespace {
void renderWholeState(benchmark::State& state) {
  TestPayloads payloads;
  Introspection::setEscapeCharacters("[\\\\\"]");
  storeDefaultValues();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string document;
    renderVariableTree(document);
    bytes = document.size();
    benchmark::DoNotOptimize(document.data());
  }
  state.counters["bytes_per_document"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(renderWholeState)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
