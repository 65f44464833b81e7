// unit-simulator COMMAND [ARG]...: plays the unit's other processes for the service on a development machine.
#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/unit-simulator/commands.h"

namespace {
struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

constexpr Command kCommands[] = {
    {"create", runCreate, "create [--skip MEM]... [--size MEM=BYTES]... [--log-level LEVEL]"},
    {"set", runSet, "set MEM VAR VALUE"},
    {"get", runGet, "get MEM VAR"},
    {"post", runPost, "post EVENT [A [B]]"},
    {"framebuffer", runFramebuffer, "framebuffer PATH [--page 1|2]"},
    {"hwinfo", runHwinfo, "hwinfo [SERIAL [BOARD]]"},
    {"updater", runUpdater, "updater"},
    {"demo", runDemo, "demo"},
};

int usage() {
  std::fprintf(stderr, "usage: unit-simulator COMMAND [ARG]...\n");
  for (const Command& command : kCommands) std::fprintf(stderr, "  %s\n", command.usage);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    try {
      return command.run(argc - 2, argv + 2);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "unit-simulator %s: %s\n", command.name, error.what());
      return 1;
    }
  }
  return usage();
}
