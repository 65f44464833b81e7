#include "apps/common/introspection/structs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/numbertext.h"
#include "apps/common/introspection/rows.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "gen/code/introspection_gen.h"

namespace {
// Element `element` of the variable, or null when it lies outside (a single structure has only 0).
char* elementAddress(char* payload, const VariableInfo& row, uint32_t element) {
  if (element >= structElementCount(row)) return nullptr;
  return payload + row.offset + element * row.elementSize;
}

// A string field reaches up to the next field, or to the end of the structure for the last one.
unsigned int fieldCapacity(const VariableInfo& row, const StructInfo& field) {
  uint32_t end = row.elementSize;
  for (const StructInfo& other : *row.fields) {
    if (other.offset > field.offset && other.offset < end) end = other.offset;
  }
  return end > field.offset ? end - field.offset : 0;
}

void writeField(char* element, const VariableInfo& row, const StructInfo& field, Notify event,
                const std::string& text) {
  char* target = element + field.offset;
  switch (field.baseType) {
    case BaseInt:
      setVariable(*reinterpret_cast<int32_t*>(target), event, static_cast<int32_t>(std::stoi(text, nullptr, 0)));
      break;
    case BaseFloat:
      setVariable(*reinterpret_cast<float*>(target), event, std::stof(text));
      break;
    case BaseBool: {
      bool value = text == "true";
      if ((*target != 0) != value) {
        *target = value ? 1 : 0;
        postEvent(event);
      }
      break;
    }
    case BaseString: {
      unsigned int capacity = fieldCapacity(row, field);
      if (capacity == 0) break;
      std::size_t length = std::min<std::size_t>(text.size(), capacity - 1);
      std::memcpy(target, text.data(), length);
      target[length] = '\0';
      postEvent(event);
      break;
    }
    case BaseEnum: {
      unsigned int e = IntrospectionEnum::getEnumIndex(field.typeName.c_str());
      for (uint32_t k = 0; k < ENUM_ARRAY[e].count; ++k) {
        if (text == ENUM_ARRAY[e].names[k]) {
          setVariable(*reinterpret_cast<uint32_t*>(target), event, k);
          break;
        }
      }
      break;
    }
    default:  // nested structures and buffers are not written field by field
      break;
  }
}

// Fields sit at their packed offsets, so the value is copied out rather than read in place.
template <typename Number, void (*appendNumber)(std::string&, Number)>
void appendNumberField(std::string& out, std::string_view head, const char* address) {
  Number value;
  std::memcpy(&value, address, sizeof value);
  out += head;
  appendNumber(out, value);
  out += valueformat::kScalarTail;
}
}  // namespace

void appendIntField(std::string& out, std::string_view head, const char* address) {
  appendNumberField<int32_t, appendDecimal>(out, head, address);
}

void appendFloatField(std::string& out, std::string_view head, const char* address) {
  appendNumberField<float, appendFixed>(out, head, address);
}

void appendBoolField(std::string& out, std::string_view head, const char* address) {
  out += head;
  out += Introspection::printBool(*address != 0);
}

void appendEnumField(std::string& out, std::string_view head, const char* address, const char* enumName,
                     const char* const* entryNames, unsigned int entryCount, std::string_view tail,
                     std::source_location caller) {
  out += head;
  appendEnumValue(out, address, entryNames, entryCount, enumName, caller);
  out += tail;
}

void appendStringField(std::string& out, std::string_view head, const char* address, unsigned int capacity) {
  out += head;
  appendJsonEscaped(out, std::string_view(address, strnlen(address, capacity)));
  out += valueformat::kStringFieldTail;
}

std::string setStructBytes(char* payload, unsigned int mem, unsigned int var, Notify event, const char* value,
                           unsigned int size) {
  char* target = elementAddress(payload, MEMORY_ARRAY[mem].rows[var], event.a == 1 ? event.b : 0);
  if (target == nullptr) return "Index exceeds limit";
  if (std::memcmp(target, value, size) == 0) return "";
  std::memcpy(target, value, size);
  postEvent(event);
  return "";
}

std::string setJson(char* payload, unsigned int mem, unsigned int var, Notify event,
                    const Introspection::Members& members) {
  const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
  char* element = elementAddress(payload, row, event.b);
  if (element == nullptr) return "Index exceeds limit";
  if (members.empty() || row.fields == nullptr) return "";
  const auto& [fieldName, value] = members.back();
  for (const StructInfo& field : *row.fields) {
    if (fieldName == field.name) {
      writeField(element, row, field, event, value.value);
      break;
    }
  }
  return "";
}
