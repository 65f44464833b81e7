#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "apps/common/introspection/catalogue.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"
#include "tools/unit-simulator/commands.h"

namespace {
bool knownMemory(const std::string& name) {
  for (const MemoryInfo& memory : MEMORY_ARRAY)
    if (name == memory.name) return true;
  std::fprintf(stderr, "unit-simulator create: unknown memory %s\n", name.c_str());
  return false;
}

// Wrong segments on purpose, so that tests can watch the service refuse them.
struct Deviations {
  std::set<std::string> skipped;
  std::map<std::string, uint32_t> sizes;
};

bool parse(int argc, char** argv, Deviations& deviations) {
  for (int i = 0; i < argc; ++i) {
    if (i + 1 >= argc) return false;
    std::string option = argv[i];
    std::string value = argv[++i];
    if (option == "--skip") {
      if (!knownMemory(value)) return false;
      deviations.skipped.insert(value);
    } else if (option == "--size") {
      size_t equals = value.find('=');
      if (equals == std::string::npos || !knownMemory(value.substr(0, equals))) return false;
      const char* digits = value.c_str() + equals + 1;
      char* end = nullptr;
      unsigned long long bytes = std::strtoull(digits, &end, 10);
      if (*digits == '\0' || *end != '\0' || bytes > 0xFFFFFFF0u) return false;
      deviations.sizes[value.substr(0, equals)] = static_cast<uint32_t>(bytes);
    } else {
      return false;
    }
  }
  return true;
}
}  // namespace

int runCreate(int argc, char** argv) {
  Deviations deviations;
  if (!parse(argc, argv, deviations)) {
    std::fprintf(stderr, "usage: unit-simulator create [--skip MEM]... [--size MEM=BYTES]...\n");
    return 2;
  }
  for (const MemoryInfo& memory : MEMORY_ARRAY) {
    if (deviations.skipped.count(memory.name) != 0) {
      // Missing means missing, also where an earlier run left the segment behind.
      ::shm_unlink((std::string("/") + memory.name).c_str());
      continue;
    }
    auto size = deviations.sizes.find(memory.name);
    SharedMemory segment(memory.name, size != deviations.sizes.end() ? size->second : memory.payloadSize);
    segment.create();
    segment.disown();
    // A segment left from an earlier run starts over as well.
    std::memset(segment.address(), 0, segment.getSize());
  }
  return 0;
}
