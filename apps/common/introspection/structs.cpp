#include "apps/common/introspection/structs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/numbertext.h"
#include "apps/common/introspection/rows.h"
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

// A member's value in the form its field stores, converted before anything is written: a write that
// refuses one member leaves the whole element as it was.
struct FieldValue {
  const StructInfo* field;
  uint32_t word = 0;  // int, float (its bits), enumeration entry, bool truth value
  std::string text;   // string
};

std::string convert(const VariableInfo& row, const StructInfo& field, const Json::ObjectValue& member,
                    FieldValue& out) {
  const std::string& text = member.value;
  if (member.isObject) return std::string("Field \"") + field.name + "\" takes a single value";
  out.field = &field;
  switch (field.baseType) {
    case BaseInt:
      try {
        out.word = static_cast<uint32_t>(static_cast<int32_t>(std::stoi(text, nullptr, 0)));
      } catch (const std::exception&) {
        return "Can't convert " + text + " to int";
      }
      return "";
    case BaseFloat:
      try {
        const float value = std::stof(text);
        std::memcpy(&out.word, &value, sizeof value);
      } catch (const std::exception&) {
        return "Can't convert " + text + " to float";
      }
      return "";
    case BaseBool:
      out.word = text == "true" ? 1 : 0;
      return "";
    case BaseString:
      if (fieldCapacity(row, field) == 0) return "Can't convert " + text + " to string";
      out.text = text;
      return "";
    case BaseEnum: {
      const EnumInfo& entries = ENUM_ARRAY[IntrospectionEnum::getEnumIndex(field.typeName.c_str())];
      for (uint32_t k = 0; k < entries.count; ++k) {
        if (text == entries.names[k]) {
          out.word = k;
          return "";
        }
      }
      return text + " is not part of enum " + field.typeName;
    }
    default:  // nested structures and buffers are not written field by field
      return std::string("Field \"") + field.name + "\" of " + row.typeName + " can't be written";
  }
}

void store(char* element, const VariableInfo& row, const FieldValue& value, Notify event) {
  char* target = element + value.field->offset;
  switch (value.field->baseType) {
    case BaseBool:
      // Truth values are compared, so a stored 2 is already true.
      if ((*target != 0) == (value.word != 0)) return;
      *target = static_cast<char>(value.word);
      break;
    case BaseString: {
      const std::size_t length = std::min<std::size_t>(value.text.size(), fieldCapacity(row, *value.field) - 1);
      std::memcpy(target, value.text.data(), length);
      target[length] = '\0';
      break;
    }
    default:  // the 4-byte kinds, compared bytewise
      if (std::memcmp(target, &value.word, sizeof value.word) == 0) return;
      std::memcpy(target, &value.word, sizeof value.word);
      break;
  }
  postEvent(event);
}

// The members that carry the fields follow the pair named as the variable, whose object held them;
// false when the variable was not given an object.
bool findFields(const VariableInfo& row, const Introspection::Members& members, std::size_t& first) {
  for (std::size_t k = 0; k < members.size(); ++k) {
    if (members[k].first != row.name) continue;
    first = k + 1;
    return members[k].second.isObject;
  }
  return false;
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
  std::size_t first = 0;
  if (row.fields == nullptr || !findFields(row, members, first))
    return std::string(row.name) + " takes an object of its fields";
  std::vector<FieldValue> values;
  for (std::size_t k = first; k < members.size(); ++k) {
    // Named apart: the lambda below captures the name, which clang 14 refuses for a structured binding.
    const std::string& name = members[k].first;
    const auto& member = members[k].second;
    if (name == "Index") continue;
    const auto field =
        std::find_if(row.fields->begin(), row.fields->end(), [&name](const StructInfo& f) { return name == f.name; });
    if (field == row.fields->end()) return std::string(row.typeName) + " has no field \"" + name + "\"";
    const std::string refused = convert(row, *field, member, values.emplace_back());
    if (!refused.empty()) return refused;
  }
  if (values.empty()) return std::string("No field of ") + row.typeName + " to write";
  for (const FieldValue& value : values) store(element, row, value, event);
  return "";
}
