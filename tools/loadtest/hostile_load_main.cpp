// hostile-load PORT [SECONDS [MALFORMED]]: hostile load against the service on 127.0.0.1:PORT (loopback
// only), with a well-behaved client beside it; exits 1 when the good client lost an answer or the
// service no longer serves afterwards.
// hostile-load PORT --non-readers N [HOLD_MS]: the kernel's TCP memory while N whole-state readers never read.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/fcgi-client/fcgiclient.h"
#include "tools/loadtest/hostile_load.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: hostile-load PORT [SECONDS [MALFORMED]]\n");
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  hostileload::Options options;
  options.connect = [port] { return fcgiclient::connectTcp("127.0.0.1", port); };
  if (argc > 3 && std::string(argv[2]) == "--non-readers") {
    const auto memory =
        hostileload::nonReaderMemory(options.connect, std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 3000);
    const long pageKiB = ::sysconf(_SC_PAGESIZE) / 1024;
    std::printf("%d readers that never read: TCP memory %ld kB before, %ld kB held (%+ld kB)\n", memory.connected,
                memory.pagesBefore * pageKiB, memory.pagesHeld * pageKiB,
                (memory.pagesHeld - memory.pagesBefore) * pageKiB);
    return memory.pagesHeld < 0 ? 1 : 0;
  }
  if (argc > 2) options.seconds = std::atoi(argv[2]);
  if (argc > 3) options.malformed = std::atoi(argv[3]);
  const auto report = hostileload::run(options);
  std::printf(
      "ran %.1f s: good client %llu answers, %llu failures, worst %.1f ms; %llu malformed connections, %llu refused; "
      "slow senders served %d/%d; flood answered %d/%d; serves afterwards: %s\n",
      report.seconds, static_cast<unsigned long long>(report.goodRequests),
      static_cast<unsigned long long>(report.goodFailures), report.goodWorstMs,
      static_cast<unsigned long long>(report.malformedSent), static_cast<unsigned long long>(report.refused),
      report.slowServed, options.slowSenders, report.floodAccepted, options.flood,
      report.servesAfterwards ? "yes" : "no");
  return report.goodFailures == 0 && report.servesAfterwards ? 0 : 1;
}
