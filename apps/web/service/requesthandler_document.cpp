// Rendering of variables into the JSON documents of the request handler.
#include <nlohmann/json.hpp>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/variabletext.h"
#include "apps/common/log/log.h"
#include "apps/web/service/requesthandler.h"

void RequestHandler::createJsonTree(std::string& out, const std::function<void()>& flush) {
  appendVariableTree(out, flush);
}

void RequestHandler::printVariable(unsigned int mem, unsigned int var, std::string& out) {
  appendVariable(out, mem, var);
}

void RequestHandler::printValue(unsigned int mem, unsigned int var, std::string& out, int index) {
  appendVariableValue(out, mem, var, index);
}

std::string RequestHandler::encodeString(const std::string& text) {
  std::string out;
  appendJsonEscaped(out, text);
  return out;
}

void RequestHandler::appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& text) {
  if (!body.is_object() || !body.contains(key)) THROW_ERROR("Key: '%s' is missing", key.c_str());
  text += body.at(key).get<std::string>();
  text += '\n';
}
