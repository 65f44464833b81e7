#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "apps/common/constants/constants.h"
#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/catalogue.h"
#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"
#include "tools/unit-simulator/commands.h"
#include "tools/unit-simulator/startvalues.h"

namespace {
bool knownMemory(const std::string& name) {
  for (const MemoryInfo& memory : MEMORY_ARRAY)
    if (name == memory.name) return true;
  std::fprintf(stderr, "unit-simulator create: unknown memory %s\n", name.c_str());
  return false;
}

constexpr VariablePlace kLogLevelPlace = catalogue::MemApp::AppServiceLogLevel;

// The options: wrong segments on purpose, so that tests can watch the service refuse them, and the
// service's diagnostic threshold.
struct Options {
  std::set<std::string> skipped;
  std::map<std::string, uint32_t> sizes;
  int32_t logLevel = 0;
};

// Every option is checked here, so that a wrong one is found before any segment is touched.
bool parse(int argc, char** argv, Options& options) {
  // A unit starts quiet (the catalogue's start value, Warn); a zero payload would mean DebugAll.
  std::string level = DEFAULT_VALUE_ARRAY[kLogLevelPlace.mem][kLogLevelPlace.var];
  for (int i = 0; i < argc; ++i) {
    if (i + 1 >= argc) return false;
    std::string option = argv[i];
    std::string value = argv[++i];
    if (option == "--skip") {
      if (!knownMemory(value)) return false;
      options.skipped.insert(value);
    } else if (option == "--size") {
      size_t equals = value.find('=');
      if (equals == std::string::npos || !knownMemory(value.substr(0, equals))) return false;
      const char* digits = value.c_str() + equals + 1;
      char* end = nullptr;
      unsigned long long bytes = std::strtoull(digits, &end, 10);
      if (*digits == '\0' || *end != '\0' || bytes > 0xFFFFFFF0u) return false;
      options.sizes[value.substr(0, equals)] = static_cast<uint32_t>(bytes);
    } else if (option == "--log-level") {
      level = value;
    } else {
      return false;
    }
  }
  for (int32_t value = 0; value < static_cast<int32_t>(LOGLEVEL_NAME_ARRAY_SIZE); ++value) {
    if (level != LOGLEVEL_NAME_ARRAY[value]) continue;
    options.logLevel = value;
    return true;
  }
  std::fprintf(stderr, "unit-simulator create: unknown log level %s\n", level.c_str());
  return false;
}

// Nothing listens before the unit has booted: the start values are stored unannounced.
class Unannounced : public EventSink {
 public:
  void postEvent(Notify const&) override {}
};

void storeLogLevel(SharedMemory& app, int32_t level) {
  // A segment made too small on purpose keeps its zeros.
  if (kLogLevelPlace.offset + sizeof level <= app.getSize())
    std::memcpy(app.address() + kLogLevelPlace.offset, &level, sizeof level);
}
}  // namespace

int runCreate(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: unit-simulator create [--skip MEM]... [--size MEM=BYTES]... [--log-level LEVEL]\n");
    return 2;
  }
  // A segment left out or made another size on purpose stays zero: its values go to a scratch payload.
  std::vector<std::vector<char>> scratch;
  std::vector<std::unique_ptr<SharedMemory>> segments;
  SharedMemory* app = nullptr;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    const MemoryInfo& memory = MEMORY_ARRAY[mem];
    scratch.emplace_back(memory.payloadSize);
    *MEMORY_POINTER_ARRAY[mem] = scratch.back().data();
    if (options.skipped.count(memory.name) != 0) {
      // Missing means missing, also where an earlier run left the segment behind.
      ::shm_unlink((std::string("/") + memory.name).c_str());
      continue;
    }
    auto size = options.sizes.find(memory.name);
    auto& segment = *segments.emplace_back(
        std::make_unique<SharedMemory>(memory.name, size != options.sizes.end() ? size->second : memory.payloadSize));
    segment.create();
    segment.disown();
    // A segment left from an earlier run starts over as well.
    std::memset(segment.address(), 0, segment.getSize());
    if (segment.getSize() == memory.payloadSize) *MEMORY_POINTER_ARRAY[mem] = segment.address();
    if (std::strcmp(memory.name, "MemApp") == 0) app = &segment;
  }
  Unannounced nobody;
  setEventSink(&nobody);
  std::string refused = storeStartValues();
  setEventSink(nullptr);
  if (!refused.empty()) std::fprintf(stderr, "unit-simulator create: start values refused:\n%s", refused.c_str());
  if (app != nullptr) storeLogLevel(*app, options.logLevel);
  writeLensTables(std::string(Constants::LOCAL_FOLDER) + Constants::TAB_FOLDER);
  return refused.empty() ? 0 : 1;
}
