#include "apps/common/introspection/testdocument.h"

#include <exception>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "gen/code/introspection_gen.h"

namespace {
void renderValue(unsigned int mem, unsigned int var, int index, std::string& out) {
  try {
    switch (Introspection::getVarBaseType(mem, var)) {
      case BaseStruct:
        out += Introspection::getVarValue(mem, var, index);
        break;
      case BaseEnum:
        out +=
            IntrospectionEnum::printEnum(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var));
        break;
      case BaseBool:
        out += Introspection::printBool(Introspection::getVarValue(mem, var, 0) == "true");
        break;
      case BaseBuffer:
        out += Introspection::printValue(Introspection::getVarValue(mem, var, 0), "string",
                                         Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
        break;
      default:
        out += Introspection::printValue(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var),
                                         Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
        break;
    }
  } catch (const std::exception& error) {
    out += "{\"error\": \"";
    appendJsonEscaped(out, error.what());
    out += "\"}";
  }
}
}  // namespace

void renderVariable(unsigned int mem, unsigned int var, std::string& out) {
  unsigned int type = Introspection::getVarBaseType(mem, var);
  if (!Introspection::isArray(mem, var) || type == BaseString || type == BaseBuffer) {
    renderValue(mem, var, 0, out);
    return;
  }
  out += '[';
  int count = std::stoi(Introspection::getVarArrayLen(mem, var), nullptr, 10);
  for (int i = 0; i < count; ++i) {
    if (i != 0) out += ',';
    renderValue(mem, var, i, out);
  }
  out += ']';
}

void renderVariableTree(std::string& out) {
  for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
    out += '"';
    out += Introspection::getMemName(mem);
    out += "\" : {";
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
      out += '"';
      out += Introspection::getVarName(mem, var);
      out += "\" : ";
      renderVariable(mem, var, out);
      if (var + 1 < Introspection::getVarCount(mem)) out += ',';
    }
    out += '}';
    if (mem + 1 < Introspection::getMemCount()) out += ',';
  }
}

void storeDefaultValues() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      if (const char* text = DEFAULT_VALUE_ARRAY[mem][var]) Introspection::setVarValue(mem, var, text);
    }
  }
  for (unsigned int i = 0; i < STRUCT_DEFAULT_ARRAY_SIZE; ++i) {
    const StructFieldDefault& field = STRUCT_DEFAULT_ARRAY[i];
    Introspection::setVarValueJson(field.mem, field.var, {{field.field, {field.value, false}}},
                                   static_cast<int>(field.index));
  }
}
