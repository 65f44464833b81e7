#include "apps/web/service/changedevents.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <stdexcept>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/web/service/requesthandler.h"
#include "gen/code/introspection_gen.h"

namespace {

// The error list and the variables of an update document; a memory's member is opened when its first
// variable comes and closed when another memory's comes or the document ends.
class UpdateDocument {
 public:
  // Text written for the variable stays when rendering it fails; the caller reports the failure.
  void add(unsigned int mem, unsigned int var) {
    if (memoryOpen && mem == previousMemory) {
      variables += ", ";
    } else {
      if (memoryOpen) variables += "\r\n  }, ";
      variables += "\r\n  \"";
      variables += Introspection::getMemName(mem);
      variables += "\" : {";
      memoryOpen = true;
      previousMemory = mem;
    }
    variables += "\r\n    \"";
    variables += Introspection::getVarName(mem, var);
    variables += "\" : ";
    RequestHandler::printVariable(mem, var, variables);
  }

  void addError(uint32_t event, const char* text) {
    if (errorWritten) errors += ',';
    errors += "\"Backend error for variable with index ";
    errors += std::to_string(event);
    errors += ": ";
    appendJsonEscaped(errors, text);
    errors += "\"\n";
    errorWritten = true;
  }

  std::string finish() {
    std::string document = "\"errors\": [";
    document += errors;
    document += "],\r\n\"variables\": {";
    document += variables;
    if (memoryOpen) document += "\r\n  }";
    document += "\r\n}\r\n}\r\n";
    return document;
  }

 private:
  std::string variables;
  std::string errors;
  bool errorWritten = false;
  bool memoryOpen = false;
  unsigned int previousMemory = 0;
};

}  // namespace

ChangedEvents::ChangedEvents(uint64_t start) : current(start), floor(start) {
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
      const uint32_t event = Introspection::getVarEvent(mem, var).event;
      if (event < kEventCount) namesVariable.set(event);
    }
}

ChangedEvents::ChangedEvents()
    : ChangedEvents([] {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
      }()) {}

bool ChangedEvents::mark(uint32_t event) {
  if (event >= kEventCount) return false;
  words[event / 32] |= uint32_t{1} << (event % 32);
  changedAt[event] = ++current;
  if (namesVariable.test(event)) newestVariableChange = current;
  return true;
}

bool ChangedEvents::any() const {
  for (uint32_t word : words)
    if (word != 0) return true;
  return false;
}

bool ChangedEvents::isMarked(uint32_t event) const {
  return event < kEventCount && (words[event / 32] >> (event % 32) & 1) != 0;
}

std::string ChangedEvents::takeDocument() {
  UpdateDocument document;
  for (uint32_t event = 0; event < kEventCount; ++event) {
    if (!isMarked(event)) continue;
    words[event / 32] &= ~(uint32_t{1} << (event % 32));
    try {
      Notify notify;
      notify.event = event;
      unsigned int mem = 0;
      unsigned int var = 0;
      Introspection::getVarLocation(notify, mem, var);
      document.add(mem, var);
    } catch (const std::runtime_error& error) {
      document.addError(event, error.what());
    }
  }
  return document.finish();
}

void ChangedEvents::forgetBefore(uint64_t first) {
  if (first > floor) floor = first;
  if (first > current) current = first;
}

std::string ChangedEvents::documentSince(uint64_t since) const {
  UpdateDocument document;
  // Walking the rows rather than the events keeps each memory in one member, and reports every row of
  // an event that several rows share.
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
      const uint32_t event = Introspection::getVarEvent(mem, var).event;
      if (event >= kEventCount || changedAt[event] <= since) continue;
      try {
        document.add(mem, var);
      } catch (const std::runtime_error& error) {
        document.addError(event, error.what());
      }
    }
  return document.finish();
}

std::optional<uint64_t> sinceInQuery(std::string_view query) {
  static constexpr std::string_view kName = "since=";
  for (size_t start = 0; start <= query.size();) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view pair = query.substr(start, end - start);
    if (pair.starts_with(kName) || pair == "since") {
      const std::string_view digits = pair.substr(std::min(pair.size(), kName.size()));
      uint64_t since = 0;
      const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), since);
      if (error != std::errc() || stop != digits.data() + digits.size()) return 0;
      return since;
    }
    start = end + 1;
  }
  return std::nullopt;
}
