// Kernel-log conversion speed on a 50 MB coloured log: the converter alone in the service's 256-byte
// pieces, the whole Logging path (child, pipe, poll), and Debian's aha on the same file as a yardstick.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/logconverter.h"
#include "apps/web/service/logging.h"

namespace {

constexpr size_t kLogBytes = 50u * 1024 * 1024;
const char* const kLogPath = "/tmp/logconverter-benchmark.log";

// Lines as the kernel-log reader shows the service's diagnostics: coloured by level, a few plain.
const std::string& colouredLog() {
  static const std::string log = [] {
    const char* colours[] = {"\x1b[31m", "\x1b[33m", "\x1b[32m", "\x1b[90m", ""};
    const char* levels[] = {"Error       ", "Warn        ", "LogLight    ", "DebugMost   ", "LogMost     "};
    std::string text;
    text.reserve(kLogBytes + 256);
    char line[256];
    for (unsigned i = 0; text.size() < kLogBytes; ++i) {
      unsigned kind = i % 5;
      int length = std::snprintf(line, sizeof line, "%s%20s  %s%20s:%4u Request %u handled in %u us <ok> & done%s\n",
                                 colours[kind], "webservice", levels[kind], "requesthandler.cpp", i % 9973, i, i % 1000,
                                 kind < 4 ? "\x1b[0m" : "");
      text.append(line, static_cast<size_t>(length));
    }
    std::ofstream(kLogPath, std::ios::binary) << text;
    return text;
  }();
  return log;
}

void BM_ConvertInChunks(benchmark::State& state) {
  const std::string& log = colouredLog();
  for (auto _ : state) {
    LogConverter converter;
    LogText html;
    for (size_t at = 0; at < log.size(); at += Logging::kChunkSize)
      converter.convert(log.data() + at, std::min(Logging::kChunkSize, log.size() - at), html);
    benchmark::DoNotOptimize(html.view().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}

void BM_LoggingThroughPipe(benchmark::State& state) {
  const std::string& log = colouredLog();
  for (auto _ : state) {
    EventPoll poll;
    Logging logging(poll, {"cat", kLogPath});
    logging.init();
    while (poll.wait(100, true) != EventPoll::Timeout) {
    }
    if (logging.getHtml().size() < log.size()) state.SkipWithError("log incomplete");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}

// aha reads the file on its standard input and writes to /dev/null. Its time is the CPU time the
// child used (user + system), comparable with the CPU time of the benchmarks above on a busy machine;
// the wall time is reported beside it.
void BM_Aha(benchmark::State& state) {
  const std::string& log = colouredLog();
  if (::access("/usr/bin/aha", X_OK) != 0) {
    state.SkipWithError("aha is not installed (apt-get install aha)");
    return;
  }
  double wall = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
      int in = ::open(kLogPath, O_RDONLY);
      int out = ::open("/dev/null", O_WRONLY);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::execl("/usr/bin/aha", "aha", "--no-header", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("aha failed");
  }
  state.counters["wall_ms"] = 1000 * wall / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}

}  // namespace

BENCHMARK(BM_ConvertInChunks)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LoggingThroughPipe)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Aha)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK_MAIN();
