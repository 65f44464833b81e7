#include "apps/common/introspection/setters.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "apps/common/introspection/numbertext.h"
#include "apps/common/introspection/rows.h"
#include "apps/common/log/log.h"
#include "gen/code/introspection_gen.h"

namespace {
const VariableInfo& rowOf(unsigned int mem, unsigned int var) { return MEMORY_ARRAY[mem].rows[var]; }

// Argument a of the event selects the variable itself (0) or element b of an array (1); any other
// value selects nothing, and the caller stores nothing.
char* elementTarget(char* payload, unsigned int mem, unsigned int var, const Notify& event, unsigned int size) {
  char* variable = payload + rowOf(mem, var).offset;
  if (event.a == 0) return variable;
  if (event.a == 1) return variable + event.b * size;
  return nullptr;
}

template <typename T>
std::string storeElement(char* payload, unsigned int mem, unsigned int var, const Notify& event, T value) {
  if (char* target = elementTarget(payload, mem, var, event, sizeof(T))) {
    setVariable(*reinterpret_cast<T*>(target), event, value);
  }
  return "";
}

template <typename T>
T readElement(const void* address, int index) {
  T value;
  const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(index) * static_cast<std::ptrdiff_t>(sizeof(T));
  std::memcpy(&value, static_cast<const char*>(address) + offset, sizeof(T));
  return value;
}

int hexNibble(char c) {
  if (c == '\0') return 0;
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  THROW_ERROR("Not a valid hex digit: %c", c);
}
}  // namespace

std::string getIntIntrospection(void* address, int index) {
  std::string text;
  appendDecimal(text, readElement<int32_t>(address, index));
  return text;
}

std::string getFloatIntrospection(void* address, int index) {
  std::string text;
  appendFixed(text, readElement<float>(address, index));
  return text;
}

std::string getBoolIntrospection(void* address, int index) {
  return readElement<uint8_t>(address, index) != 0 ? "true" : "false";
}

// Reads up to the terminator: Introspection::getVarValue hands over a terminated copy of the field.
std::string getStringIntrospection(void* address, int) { return static_cast<const char*>(address); }

std::string getBufferIntrospection(void* address, unsigned int count) {
  std::string text;
  text.reserve(2 * static_cast<std::size_t>(count));
  appendHex(text, address, count);
  return text;
}

std::string setIntIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text) {
  int32_t value;
  try {
    value = std::stoi(text, nullptr, 0);
  } catch (const std::exception&) {
    return std::string("Can't convert ") + text + " to int";
  }
  return storeElement(payload, mem, var, event, value);
}

std::string setFloatIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text) {
  float value;
  try {
    value = std::stof(text);
  } catch (const std::exception&) {
    return std::string("Can't convert ") + text + " to float";
  }
  return storeElement(payload, mem, var, event, value);
}

std::string setBoolIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text) {
  uint8_t value;
  if (std::strcmp(text, "true") == 0) {
    value = 1;
  } else if (std::strcmp(text, "false") == 0) {
    value = 0;
  } else {
    return "Value has to be 'true' or 'false'";
  }
  // Compared as the byte, so a stored 2 is rewritten to 1 by "true".
  return storeElement(payload, mem, var, event, value);
}

std::string setStringIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text) {
  const VariableInfo& row = rowOf(mem, var);
  unsigned int capacity = stringCapacity(row);
  // Without room for at least the terminator there is nothing that could be stored.
  if (capacity < 1) return std::string("Can't convert ") + text + " to string";
  char* target = payload + row.offset;
  std::size_t length = strnlen(text, capacity - 1);
  std::memcpy(target, text, length);
  target[length] = '\0';
  postEvent(event);
  return "";
}

std::string setBufferIntrospection(char* payload, unsigned int count, unsigned int mem, unsigned int var, Notify event,
                                   const char* text) {
  auto* target = reinterpret_cast<uint8_t*>(payload + rowOf(mem, var).offset);
  const char* pair = text;
  for (unsigned int i = 0; i < count && pair[0] != '\0'; ++i, pair += 2) {
    try {
      target[i] = static_cast<uint8_t>(hexNibble(pair[0]) * 16 + hexNibble(pair[1]));
    } catch (const std::runtime_error&) {
      // The digit has been logged; the bytes stored so far stay, and nothing is announced.
      return std::string("Can't convert ") + pair + " to buffer";
    }
    if (pair[1] == '\0') break;
  }
  postEvent(event);
  return "";
}
