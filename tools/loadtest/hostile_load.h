#pragma once
// Hostile load against a running service: malformed and truncated connections, slow senders, peers
// that never read their answers and a flood of waiting requests past the request table, while one
// well-behaved client keeps reading the whole state and writing values over a kept connection.
// Bounded in connections and in time; it stops by itself.
#include <cstdint>
#include <functional>

namespace hostileload {

struct Options {
  // A new connection to the service (a blocking socket), or -1.
  std::function<int()> connect;
  int malformed = 3000;    // short-lived connections with broken or cut-off input
  int slowSenders = 16;    // whole requests sent a byte at a time
  int slowByteMs = 10;     // pause between a slow sender's bytes
  int nonReaders = 3;      // kept connections that pipeline whole-state requests and never read
  int flood = 48;          // waiting update requests held at once
  int floodHoldMs = 3000;  // how long the flood is held
  int seconds = 30;        // hard bound of the whole run
  uint32_t seed = 1;       // the malformed inputs are drawn from it
};

struct Report {
  uint64_t goodRequests = 0;      // answered correctly to the good client
  uint64_t goodFailures = 0;      // answers missing, cut or wrong
  double goodWorstMs = 0;         // its slowest answer
  uint64_t malformedSent = 0;     // malformed connections made
  uint64_t refused = 0;           // connections the service did not accept
  int slowServed = 0;             // slow senders answered in full
  int floodAccepted = 0;          // flood connections answered or still held when released
  bool servesAfterwards = false;  // a fresh client is answered after the run
  double seconds = 0;
};

Report run(const Options& options);

// Kernel memory of TCP sockets in the caller's network namespace (pages, from /proc/net/sockstat) before
// and while `readers` connections each ask for the whole state and never read, held for `holdMs`.
struct NonReaderMemory {
  long pagesBefore = -1;
  long pagesHeld = -1;
  int connected = 0;
};
NonReaderMemory nonReaderMemory(const std::function<int()>& connect, int readers, int holdMs);

}  // namespace hostileload
