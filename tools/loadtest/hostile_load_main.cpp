// hostile-load PORT [SECONDS [MALFORMED]]: hostile load against the service on 127.0.0.1:PORT (loopback
// only), with a well-behaved client beside it; exits 1 when the good client lost an answer or the
// service no longer serves afterwards.
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
