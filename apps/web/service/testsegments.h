#pragma once
// Zeroed buffers standing in for the 20 shared-memory payloads in unit tests, and direct access
// to a variable's bytes by name, so that tests set values without the setters' broker events.
#include <cstring>
#include <string>
#include <vector>

#include "gen/code/introspection_gen.h"

class TestSegments {
 public:
  TestSegments() {
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
      buffers.emplace_back(MEMORY_ARRAY[mem].payloadSize, '\0');
      *pointer(mem) = buffers.back().data();
    }
  }
  ~TestSegments() {
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) *pointer(mem) = nullptr;
  }
  TestSegments(const TestSegments&) = delete;
  TestSegments& operator=(const TestSegments&) = delete;

  static char** pointer(unsigned int mem) { return MEMORY_ARRAY[mem].rows[0].memory; }

  static const VariableInfo& row(const std::string& memory, const std::string& name) {
    for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
      if (memory != MEMORY_ARRAY[mem].name) continue;
      for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var)
        if (name == MEMORY_ARRAY[mem].rows[var].name) return MEMORY_ARRAY[mem].rows[var];
    }
    throw std::runtime_error("no row " + memory + "." + name);
  }

  template <typename T>
  static void store(const std::string& memory, const std::string& name, const T& value) {
    const VariableInfo& info = row(memory, name);
    std::memcpy(*info.memory + info.offset, &value, sizeof(T));
  }
  static void storeText(const std::string& memory, const std::string& name, const char* text) {
    const VariableInfo& info = row(memory, name);
    std::strcpy(*info.memory + info.offset, text);
  }

 private:
  std::vector<std::vector<char>> buffers;
};
