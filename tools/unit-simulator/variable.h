#pragma once
// One catalogue variable of the mapped segments, reached by memory and name.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"

struct Variable {
  unsigned int mem = 0;
  unsigned int var = 0;

  Variable(const char* memory, const char* name) : mem(Introspection::getMemIndex(memory)) {
    if (!Introspection::findVariable(mem, name, var))
      throw std::runtime_error(std::string("no variable ") + name + " in " + memory);
  }
  const char* address() const { return *MEMORY_ARRAY[mem].rows[var].memory + MEMORY_ARRAY[mem].rows[var].offset; }
  int32_t number() const {
    int32_t value;
    std::memcpy(&value, address(), sizeof value);
    return value;
  }
  // Stores and announces the change, as the unit's own processes do; a refused value is reported.
  bool set(const std::string& text) const {
    std::string error = Introspection::setVarValue(mem, var, text.c_str());
    if (!error.empty()) std::fprintf(stderr, "unit-simulator: %s: %s\n", text.c_str(), error.c_str());
    return error.empty();
  }
  uint32_t event() const { return Introspection::getVarEvent(mem, var).event; }
};
