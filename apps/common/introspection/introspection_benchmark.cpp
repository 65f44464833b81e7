// Renders the whole-state variables tree over segments holding the simulator's start values.
#include <benchmark/benchmark.h>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection/testdocument.h"
#include "apps/common/introspection/variabletext.h"

namespace {
// Argument 1: the tree goes into one buffer that is reused, as the service streams it into a request
// buffer of bounded size. Argument 0: a fresh string per document, which adds its growth to 1.5 MB.
void renderWholeState(benchmark::State& state) {
  TestPayloads payloads;
  storeDefaultValues();
  const bool reuse = state.range(0) == 1;
  std::size_t bytes = 0;
  std::string reused;
  for (auto _ : state) {
    std::string fresh;
    std::string& document = reuse ? reused : fresh;
    document.clear();
    appendVariableTree(document);
    bytes = document.size();
    benchmark::DoNotOptimize(document.data());
  }
  state.counters["bytes_per_document"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(renderWholeState)->ArgName("reused_buffer")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
