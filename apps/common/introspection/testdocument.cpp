#include "apps/common/introspection/testdocument.h"

#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"

std::string storeDefaultValues() {
  std::string refused;
  const auto note = [&](const std::string& answer, const VariableInfo& row, const char* value) {
    if (!answer.empty()) refused += std::string(row.name) + " = " + value + ": " + answer + "\n";
  };
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      if (const char* text = DEFAULT_VALUE_ARRAY[mem][var])
        note(Introspection::setVarValue(mem, var, text), MEMORY_ARRAY[mem].rows[var], text);
    }
  }
  for (unsigned int i = 0; i < STRUCT_DEFAULT_ARRAY_SIZE; ++i) {
    const StructFieldDefault& field = STRUCT_DEFAULT_ARRAY[i];
    const VariableInfo& row = MEMORY_ARRAY[field.mem].rows[field.var];
    // As a set request carries it: the variable's object holding the field.
    note(Introspection::setVarValueJson(field.mem, field.var,
                                        {{row.name, {"{...}", true}}, {field.field, {field.value, false}}},
                                        static_cast<int>(field.index)),
         row, field.value);
  }
  return refused;
}
