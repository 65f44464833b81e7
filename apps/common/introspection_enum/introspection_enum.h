#pragma once
// Enumeration lookup and rendering, and the bodies of the generated enumeration getters/setters.
#include <source_location>
#include <string>

#include "apps/common/event/notify.h"

class IntrospectionEnum {
 public:
  static unsigned int getEnumCount();
  static const char* getEnumName(unsigned int e);
  static unsigned int getEnumEntryCount(unsigned int e);
  static const char* getEnumEntryName(unsigned int e, unsigned int k);
  static unsigned int getEnumIndex(const char* name);
  static std::string printEnum(const std::string& value, const std::string& type);
};

// Shared by every generated get<E>Introspection / set<E>Introspection. An out-of-range value is logged
// with the location of the generated getter that called, which is where the enumeration is known.
// Appends the entry's name, or "INVALID_VALUE: n" after logging at caller.
void appendEnumValue(std::string& out, const void* address, const char* const* names, unsigned int count,
                     const char* enumName, std::source_location caller);
std::string getEnumValue(const void* address, const char* const* names, unsigned int count, const char* enumName,
                         std::source_location caller = std::source_location::current());
std::string setEnumValue(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text,
                         const char* const* names, unsigned int count, const char* enumName);
