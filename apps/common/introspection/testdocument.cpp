#include "apps/common/introspection/testdocument.h"

#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"

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
