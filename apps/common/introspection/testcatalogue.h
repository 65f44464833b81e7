#pragma once
// Unit-test stand-ins for the unit around the catalogue: zeroed payloads in place of the mapped
// segments, and a recorder of the events the setters post.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "apps/common/event/notify.h"
#include "gen/code/introspection_gen.h"

inline bool operator==(const Notify& x, const Notify& y) { return x.event == y.event && x.a == y.a && x.b == y.b; }

// The message of the error that action throws, without the "file:line " in front; "no failure" if none.
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
};

// Finds a row by memory and variable name; fails the test (throws) when there is none.
RowRef findRow(const std::string& memory, const std::string& name);

// Writes the bytes of value (or a terminated text) into a variable without announcing it.
template <typename T>
void storeBytes(const std::string& memory, const std::string& name, const T& value) {
  std::memcpy(findRow(memory, name).address(), &value, sizeof(T));
}
void storeText(const std::string& memory, const std::string& name, const char* text);

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
