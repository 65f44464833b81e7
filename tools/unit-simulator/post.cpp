#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/gen.h"
#include "gen/code/introspection_gen.h"
#include "tools/unit-simulator/commands.h"

namespace {
bool parseNumber(const char* text, uint32_t& number) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 0);
  if (*text == '\0' || *end != '\0' || value > 0xFFFFFFFFu) return false;
  number = static_cast<uint32_t>(value);
  return true;
}

// An event by its name from the table or by its number (any number, to try out the receivers' bounds).
bool parseEvent(const char* text, uint32_t& event) {
  for (uint32_t number = 0; number < EVENT_NAME_SIZE; ++number) {
    if (std::strcmp(text, EVENT_NAME[number]) == 0) {
      event = number;
      return true;
    }
  }
  return parseNumber(text, event);
}
}  // namespace

int runPost(int argc, char** argv) {
  Notify notify;
  if (argc < 1 || argc > 3 || !parseEvent(argv[0], notify.event) || (argc > 1 && !parseNumber(argv[1], notify.a)) ||
      (argc > 2 && !parseNumber(argv[2], notify.b))) {
    std::fprintf(stderr, "usage: unit-simulator post EVENT [A [B]]\n");
    return 2;
  }
  ServerConnection connection(*gen::getEventPoll());
  connection.postEvent(notify);
  return 0;
}
