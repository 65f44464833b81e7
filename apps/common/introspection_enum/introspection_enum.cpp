#include "apps/common/introspection_enum/introspection_enum.h"

#include <cstdint>
#include <cstring>

#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "gen/code/introspection_gen.h"

namespace {
const EnumInfo& enumAt(unsigned int e) {
  if (e >= ENUM_ARRAY_SIZE) THROW_ERROR("Index exceeds limit");
  return ENUM_ARRAY[e];
}
}  // namespace

unsigned int IntrospectionEnum::getEnumCount() { return ENUM_ARRAY_SIZE; }

const char* IntrospectionEnum::getEnumName(unsigned int e) { return enumAt(e).name; }

unsigned int IntrospectionEnum::getEnumEntryCount(unsigned int e) { return enumAt(e).count; }

const char* IntrospectionEnum::getEnumEntryName(unsigned int e, unsigned int k) {
  const EnumInfo& info = enumAt(e);
  if (k >= info.count) THROW_ERROR("Index exceeds limit");
  return info.names[k];
}

unsigned int IntrospectionEnum::getEnumIndex(const char* name) {
  for (unsigned int e = 0; e < ENUM_ARRAY_SIZE; ++e) {
    if (std::strcmp(ENUM_ARRAY[e].name, name) == 0) return e;
  }
  THROW_ERROR("Unknown enum \"%s\"", name);
}

std::string IntrospectionEnum::printEnum(const std::string& value, const std::string& type) {
  const EnumInfo& info = ENUM_ARRAY[getEnumIndex(type.c_str())];
  std::string out;
  out.reserve(48 + value.size() + type.size() + 16 * info.count);
  out += valueformat::kEnumValue;
  out += value;
  out += valueformat::kEnumType;
  out += type;
  out += valueformat::kEnumEntries;
  for (unsigned int k = 0; k < info.count; ++k) {
    if (k != 0) out += ',';
    out += '"';
    out += info.names[k];
    out += '"';
  }
  out += valueformat::kEnumTail;
  return out;
}

void appendEnumValue(std::string& out, const void* address, const char* const* names, unsigned int count,
                     const char* enumName, std::source_location caller) {
  uint32_t value;
  std::memcpy(&value, address, sizeof value);
  if (value < count) {
    out += names[value];
    return;
  }
  logMessage(gComponentLogLevel, gen::Error, caller.file_name(), static_cast<int>(caller.line()),
             "Value %i of enum %s is above number of entries (%i)", static_cast<int>(value), enumName,
             static_cast<int>(count));
  out += "INVALID_VALUE: " + std::to_string(value);
}

std::string getEnumValue(const void* address, const char* const* names, unsigned int count, const char* enumName,
                         std::source_location caller) {
  std::string out;
  appendEnumValue(out, address, names, count, enumName, caller);
  return out;
}

std::string setEnumValue(char* payload, unsigned int mem, unsigned int var, Notify event, const char* text,
                         const char* const* names, unsigned int count, const char* enumName) {
  for (uint32_t k = 0; k < count; ++k) {
    if (std::strcmp(names[k], text) != 0) continue;
    auto* target = reinterpret_cast<uint32_t*>(payload + MEMORY_ARRAY[mem].rows[var].offset);
    setVariable(*target, event, k);
    return "";
  }
  return std::string(text) + " is not part of enum " + enumName;
}
