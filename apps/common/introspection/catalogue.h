#pragma once
// Shapes of the generated catalogue (gen/code/introspection_gen): memories, rows, structure fields,
// enumerations and event names. The tables themselves are generated; this header is their contract.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "apps/common/event/notify.h"

// Numbered from 0 in this order, as the generated tables carry them.
enum BaseType : uint32_t { BaseInt, BaseFloat, BaseBool, BaseString, BaseBuffer, BaseEnum, BaseStruct };

// Renders the stored value at address (element index where the type has elements).
using VariableGetter = std::string (*)(void* address, int index);
// Converts text (for structures: the address of a whole value) and stores it; empty answer on success.
using VariableSetter = std::string (*)(char* payload, unsigned int mem, unsigned int var, Notify event,
                                       const char* text);

// Appends one element of a structure type, at element, as its JSON object.
using StructAppender = void (*)(std::string& out, const char* element);

struct StructInfo {
  const char* name;
  uint32_t offset;
  uint32_t baseType;
  std::string typeName;
  std::vector<StructInfo>* nested;  // null in every generated row
};

struct EnumInfo {
  const char* name;
  const char* const* names;
  uint32_t count;
};

struct VariableInfo {
  Notify event;  // argument b is rewritten before each element write of a structure array
  const char* name;
  char** memory;  // the memory's pointer global, read at every access
  uint32_t offset;
  const char* typeName;
  uint32_t baseType;
  VariableGetter getter;
  VariableSetter setter;
  const char* min;
  const char* max;
  const char* arrayLength;
  bool isArray;
  std::vector<StructInfo>* fields;
  uint32_t elementSize;
  // The array length as a number: a string's capacity, a buffer's bytes, a structure array's elements.
  uint32_t length;
  // The rendering around the value (empty for bool, which has two fixed texts, and for structures).
  std::string_view head;
  std::string_view tail;
  const EnumInfo* entries;  // an enumeration row's entries
  StructAppender append;    // a structure row's appender of one element
};

struct MemoryInfo {
  const char* name;
  VariableInfo* rows;
  uint32_t count;
  uint32_t payloadSize;
};

// Declared by the generated header with their sizes as constants:
//   MemoryInfo MEMORY_ARRAY[MEMORY_ARRAY_SIZE]; const EnumInfo ENUM_ARRAY[ENUM_ARRAY_SIZE];
//   const char* const EVENT_NAME[EVENT_NAME_SIZE];

// Where a variable lives, for code that reads or writes it in place: memory and row index, payload
// offset, bytes of one element (a string's capacity), elements (of a structure array, else 1), change event.
struct VariablePlace {
  unsigned int mem;
  unsigned int var;
  uint32_t offset;
  uint32_t size;
  uint32_t count;
  Notify event;
};

// The address of element `element` of the variable at place in its mapped payload; null while the memory is
// not mapped.
char* placeAddress(const VariablePlace& place, uint32_t element = 0);

// A place with the type of what is stored there: at() is where a T is read or written.
template <typename T>
struct Place : VariablePlace {
  T* at(uint32_t element = 0) const { return reinterpret_cast<T*>(placeAddress(*this, element)); }
};

// A structure field: offset in the element and bytes (a string's capacity).
struct FieldPlace {
  uint32_t offset;
  uint32_t size;
};
