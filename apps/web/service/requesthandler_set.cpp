// Writes of one variable from a set request's body.
#include <exception>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/catalogue.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/json.h"
#include "apps/web/service/requesthandler.h"

bool RequestHandler::setVars(const std::string& body, std::stringstream& errors) {
  if (const std::string refused = postingRefusal(); !refused.empty()) {
    errors << notStoredText(refused);
    return false;
  }
  Json reader;
  if (!reader.parse(body)) {
    errors << "JSON parse error at " << reader.errorPosition << ".\r\n";
    return false;
  }
  // An empty body or {} names no memory.
  if (reader.members.empty()) return false;
  const std::string memoryName = reader.members.front().first;
  std::string variableName;
  while (reader.members.back().second.isObject) {
    // parse() appends to the list the text is taken from, so the text is copied first.
    const std::string nested = reader.members.back().second.value;
    const size_t before = reader.members.size();
    if (!reader.parse(nested)) {
      errors << "JSON parse error at " << reader.errorPosition << ".\r\n";
      return false;
    }
    // An empty nested value adds no pair; descending into the same value again would never end.
    if (reader.members.size() == before) return false;
    if (variableName.empty()) variableName = reader.members.back().first;
  }
  std::string answer;
  try {
    int index = 0;
    for (const auto& [name, value] : reader.members)
      if (name == "Index") index = std::stoi(value.value);
    const unsigned int mem = Introspection::getMemIndex(memoryName);
    unsigned int var = 0;
    if (!Introspection::findVariable(mem, variableName, var)) return false;
    if (Introspection::getVarBaseType(mem, var) == BaseStruct)
      answer = Introspection::setVarValueJson(mem, var, reader.members, index);
    else
      answer = Introspection::setVarValue(mem, var, reader.members.back().second.value.c_str());
  } catch (const std::exception&) {
    return false;
  }
  if (answer.empty()) {
    // The connection went while the change was announced: it is stored, and its record waits for the return.
    if (const std::string lost = postingRefusal(); !lost.empty())
      errors << "Stored, but " << lost << ": the change is announced when it is back.";
    return true;
  }
  errors << answer;
  return false;
}
