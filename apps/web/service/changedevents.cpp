#include "apps/web/service/changedevents.h"

#include <stdexcept>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/web/service/requesthandler.h"
#include "gen/code/introspection_gen.h"

bool ChangedEvents::mark(uint32_t event) {
  if (event >= kEventCount) return false;
  words[event / 32] |= uint32_t{1} << (event % 32);
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
  std::string variables;
  std::string document = "\"errors\": [";
  bool errorWritten = false;
  bool memoryOpen = false;
  unsigned int previousMemory = 0;
  for (uint32_t event = 0; event < kEventCount; ++event) {
    if (!isMarked(event)) continue;
    words[event / 32] &= ~(uint32_t{1} << (event % 32));
    try {
      Notify notify;
      notify.event = event;
      unsigned int mem = 0;
      unsigned int var = 0;
      Introspection::getVarLocation(notify, mem, var);
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
    } catch (const std::runtime_error& error) {
      if (errorWritten) document += ',';
      document += "\"Backend error for variable with index ";
      document += std::to_string(event);
      document += ": ";
      appendJsonEscaped(document, error.what());
      document += "\"\n";
      errorWritten = true;
    }
  }
  document += "],\r\n\"variables\": {";
  document += variables;
  document += "\r\n  }\r\n}\r\n}\r\n";
  return document;
}
