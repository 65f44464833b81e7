#pragma once
// Unit-test stand-ins for the unit around the catalogue: zeroed payloads in place of the mapped
// segments, and a recorder of the events the setters post.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"

inline bool operator==(const Notify& x, const Notify& y) { return x.event == y.event && x.a == y.a && x.b == y.b; }

// The message of the error that action throws, without the "file:line " in front.
std::string failureMessage(const std::function<void()>& action);

// Every event posted since the last call, oldest first; the first call (or the first TestPayloads)
// makes the recorder the process's event sink.
std::vector<Notify> takePostedEvents();

struct RowRef {
  unsigned int mem;
  unsigned int var;
  const VariableInfo& info() const { return MEMORY_ARRAY[mem].rows[var]; }
  // The variable's first byte in the mapped payload.
  char* address() const { return *info().memory + info().offset; }
  // Through the row's getter and setter, as a request reads and writes it.
  std::string get(int index = 0) const { return Introspection::getVarValue(mem, var, index); }
  std::string set(const char* text) const { return Introspection::setVarValue(mem, var, text); }
  // An element's bytes as stored, and storing the first one, without announcing anything.
  template <typename T>
  T load(std::size_t element = 0) const {
    T value;
    std::memcpy(&value, address() + element * sizeof(T), sizeof(T));
    return value;
  }
  template <typename T>
  void store(const T& value) const {
    std::memcpy(address(), &value, sizeof(T));
  }
};

// Finds a row by memory and variable name; fails the test (throws) when there is none.
RowRef findRow(const std::string& memory, const std::string& name);

// Writes the bytes of value into a variable without announcing it.
template <typename T>
void storeBytes(const std::string& memory, const std::string& name, const T& value) {
  findRow(memory, name).store(value);
}

// Every byte value but NUL, then quotes, backslashes, a lone continuation byte, overlong forms, a surrogate,
// a code point beyond U+10FFFF, a five-byte form, and sequences cut short by text, by the next one and by the end.
std::string hostileBytes();

// Maps a zeroed payload for every memory while alive, with the event recorder connected and emptied;
// unmaps (nulls the pointers) when destroyed.
class TestPayloads {
 public:
  TestPayloads();
  ~TestPayloads();
  TestPayloads(const TestPayloads&) = delete;
  TestPayloads& operator=(const TestPayloads&) = delete;

 private:
  std::vector<std::vector<uint32_t>> payloads;  // uint32_t elements keep every payload 4-byte aligned
};
