#pragma once
// Scalar getters and setters of the catalogue rows, and the store-and-announce step they share.
#include <array>
#include <cstring>
#include <string>

#include "apps/common/event/eventsink.h"
#include "apps/common/event/notify.h"

std::string getIntIntrospection(void* address, int index);
std::string getFloatIntrospection(void* address, int index);
std::string getBoolIntrospection(void* address, int index);
std::string getStringIntrospection(void* address, int index);
std::string getBufferIntrospection(void* address, unsigned int count);

std::string setIntIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text);
std::string setFloatIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text);
std::string setBoolIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text);
std::string setStringIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text);
std::string setBufferIntrospection(char* payload, unsigned int count, unsigned int mem, unsigned int var, Notify event,
                                   const char* text);

// Buffer rows point at one of these per byte count.
template <unsigned int N>
std::string getBufferSizedIntrospection(void* address, int) {
  return getBufferIntrospection(address, N);
}
template <unsigned int N>
std::string setBufferSizedIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                        const char* text) {
  return setBufferIntrospection(payload, N, mem, var, event, text);
}

// Stores value and posts event only when the bytes differ; true when it did.
template <typename T>
bool setVariable(T& target, Notify event, const T& value) {
  if (std::memcmp(&target, &value, sizeof(T)) == 0) return false;
  target = value;
  postEvent(event);
  return true;
}

// Stores the text cut to N - 1 characters and posts event unless the target holds the same text; true when it did. The
// target is compared within its N bytes, as another process may have left it without a terminator.
template <std::size_t N>
bool setVariable(std::array<char, N>& target, Notify event, const char* value) {
  std::size_t length = std::strlen(value);
  if (length < N && std::memcmp(target.data(), value, length + 1) == 0) return false;
  // strncpy's cut and zero fill, written out: GCC's optimiser takes strncpy's cut for a mistake.
  std::size_t copied = length < N ? length : N - 1;
  std::memcpy(target.data(), value, copied);
  std::memset(target.data() + copied, 0, N - copied);
  postEvent(event);
  return true;
}
