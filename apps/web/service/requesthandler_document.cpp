// Rendering of variables into the JSON documents of the request handler.
#include <exception>
#include <nlohmann/json.hpp>

#include "apps/common/introspection/catalogue.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/log/log.h"
#include "apps/web/service/requesthandler.h"

void RequestHandler::createJsonTree(std::ostream& out, const std::function<void()>& flush) {
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
    out << '"' << Introspection::getMemName(mem) << "\" : {";
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
      if (flush) flush();
      out << '"' << Introspection::getVarName(mem, var) << "\" : ";
      printVariable(mem, var, out);
      if (var + 1 < Introspection::getVarCount(mem)) out << ',';
    }
    out << '}';
    if (mem + 1 < Introspection::getMemCount()) out << ',';
  }
}

void RequestHandler::printVariable(unsigned int mem, unsigned int var, std::ostream& out) {
  const unsigned int baseType = Introspection::getVarBaseType(mem, var);
  if (Introspection::isArray(mem, var) && baseType != BaseString && baseType != BaseBuffer) {
    const char* length = Introspection::getVarArrayLen(mem, var);
    const int count = length == nullptr ? 0 : std::stoi(length);
    out << '[';
    for (int i = 0; i < count; ++i) {
      if (i > 0) out << ',';
      printValue(mem, var, out, i);
    }
    out << ']';
    return;
  }
  printValue(mem, var, out, 0);
}

void RequestHandler::printValue(unsigned int mem, unsigned int var, std::ostream& out, int index) {
  // The text is complete before anything is written, so a failure leaves no half value behind.
  std::string text;
  try {
    switch (Introspection::getVarBaseType(mem, var)) {
      case BaseStruct:
        text = Introspection::getVarValue(mem, var, index);
        break;
      case BaseEnum:
        text =
            IntrospectionEnum::printEnum(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var));
        break;
      case BaseBool:
        text = Introspection::printBool(Introspection::getVarValue(mem, var, 0) == "true");
        break;
      case BaseBuffer:
        text = Introspection::printValue(Introspection::getVarValue(mem, var, 0), "string",
                                         Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
        break;
      default:
        text = Introspection::printValue(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var),
                                         Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
        break;
    }
  } catch (const std::exception& error) {
    // Still a value in its place, so that one variable cannot make the whole document unreadable.
    out << "{\"error\": \"" << JsonEscaped{error.what()} << "\"}";
    return;
  }
  out << text;
}

void RequestHandler::appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& text) {
  if (!body.is_object() || !body.contains(key)) THROW_ERROR("Key: '%s' is missing", key.c_str());
  text += body.at(key).get<std::string>();
  text += '\n';
}
