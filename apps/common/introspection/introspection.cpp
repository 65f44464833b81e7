#include "apps/common/introspection/introspection.h"

#include <optional>
#include <regex>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/rows.h"
#include "apps/common/introspection/structs.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/log/log.h"
#include "gen/code/introspection_gen.h"

namespace {
struct VarLocation {
  unsigned int mem = 0;
  unsigned int var = 0;
};

// Event number -> the last row that carries it, so the lens-marker copies in MemLens lose to
// the rows of MemLensMarkers that follow them.
VarLocation eventToVar[EVENT_NAME_SIZE];
bool eventToVarBuilt = false;

VariableInfo& rowAt(unsigned int mem, unsigned int var) {
  if (mem >= MEMORY_ARRAY_SIZE || var >= MEMORY_ARRAY[mem].count) THROW_ERROR("Index exceeds limit");
  return MEMORY_ARRAY[mem].rows[var];
}

// Getters read element index unchecked: only the elements of a structure array, or the one value of
// an int, float or bool, may be asked for (strings, buffers and enumerations ignore the index).
bool indexInside(const VariableInfo& row, int index) {
  if (row.baseType == BaseStruct) return index >= 0 && static_cast<unsigned int>(index) < structElementCount(row);
  return row.baseType > BaseBool || index == 0;
}

}  // namespace

unsigned int Introspection::getMemCount() { return MEMORY_ARRAY_SIZE; }

const char* Introspection::getMemName(unsigned int mem) {
  if (mem >= MEMORY_ARRAY_SIZE) THROW_ERROR("Index exceeds limit");
  return MEMORY_ARRAY[mem].name;
}

unsigned int Introspection::getMemIndex(const std::string& name) {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    if (name == MEMORY_ARRAY[mem].name) return mem;
  }
  THROW_ERROR("Unknown memory \"%s\"", name.c_str());
}

unsigned int Introspection::getVarCount(unsigned int mem) {
  if (mem >= MEMORY_ARRAY_SIZE) THROW_ERROR("Index exceeds limit");
  return MEMORY_ARRAY[mem].count;
}

bool Introspection::findVariable(unsigned int mem, const std::string& name, unsigned int& var) {
  for (unsigned int i = 0; i < getVarCount(mem); ++i) {
    if (name == MEMORY_ARRAY[mem].rows[i].name) {
      var = i;
      return true;
    }
  }
  return false;
}

const char* Introspection::getVarName(unsigned int mem, unsigned int var) { return rowAt(mem, var).name; }

const char* Introspection::getVarType(unsigned int mem, unsigned int var) { return rowAt(mem, var).typeName; }

unsigned int Introspection::getVarBaseType(unsigned int mem, unsigned int var) { return rowAt(mem, var).baseType; }

const char* Introspection::getVarArrayLen(unsigned int mem, unsigned int var) { return rowAt(mem, var).arrayLength; }

bool Introspection::isArray(unsigned int mem, unsigned int var) {
  const VariableInfo& row = rowAt(mem, var);
  return row.isArray && row.arrayLength != nullptr;
}

Notify Introspection::getVarEvent(unsigned int mem, unsigned int var) { return rowAt(mem, var).event; }

void Introspection::genEventToVar() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      uint32_t event = MEMORY_ARRAY[mem].rows[var].event.event;
      if (event < EVENT_NAME_SIZE) eventToVar[event] = {mem, var};
    }
  }
  eventToVarBuilt = true;
}

void Introspection::getVarLocation(const Notify& event, unsigned int& mem, unsigned int& var) {
  if (!eventToVarBuilt) genEventToVar();
  // Events come from other processes: a number past the table names no row, like an unused one.
  VarLocation location = event.event < EVENT_NAME_SIZE ? eventToVar[event.event] : VarLocation{};
  mem = location.mem;
  var = location.var;
}

std::string Introspection::getVarValue(unsigned int mem, unsigned int var, int index) {
  const VariableInfo& row = rowAt(mem, var);
  char* payload = *row.memory;
  if (payload == nullptr) return "n/a";
  if (!indexInside(row, index)) THROW_ERROR("Index exceeds limit");
  char* address = payload + row.offset;
  if (row.baseType == BaseString) {
    // Other processes write these bytes: the getter reads a terminated copy, so a value without
    // NUL ends at its field instead of running into the next variable.
    std::string field(address, stringCapacity(row));
    return row.getter(field.data(), index);
  }
  return row.getter(address, index);
}

std::string Introspection::setVarValue(unsigned int mem, unsigned int var, const char* text) {
  const VariableInfo& row = rowAt(mem, var);
  char* payload = *row.memory;
  if (payload == nullptr) return "n/a";
  return row.setter(payload, mem, var, row.event, text);
}

std::string Introspection::setVarValueJson(unsigned int mem, unsigned int var, const Members& members, int index) {
  VariableInfo& row = rowAt(mem, var);
  char* payload = *row.memory;
  if (payload == nullptr) return "n/a";
  row.event.b = static_cast<uint32_t>(index);
  return setJson(payload, mem, var, row.event, members);
}

std::string Introspection::getVarMin(unsigned int mem, unsigned int var) {
  const VariableInfo& row = rowAt(mem, var);
  if (row.baseType == BaseInt) return std::string(row.min != nullptr ? row.min : valueformat::kIntMin);
  if (row.baseType == BaseFloat) return std::string(row.min != nullptr ? row.min : valueformat::kRowFloatMin);
  return "0";
}

std::string Introspection::getVarMax(unsigned int mem, unsigned int var) {
  const VariableInfo& row = rowAt(mem, var);
  switch (row.baseType) {
    case BaseInt:
      return std::string(row.max != nullptr ? row.max : valueformat::kIntMax);
    case BaseFloat:
      return std::string(row.max != nullptr ? row.max : valueformat::kRowFloatMax);
    case BaseBool:
      return "1";
    case BaseString:
    case BaseBuffer:
      return row.max != nullptr ? row.max : "0";
    case BaseEnum:
      return std::to_string(IntrospectionEnum::getEnumEntryCount(IntrospectionEnum::getEnumIndex(row.typeName)) - 1u);
    default:
      return "0";
  }
}

std::string Introspection::printValue(const std::string& value, const std::string& type, const std::string& min,
                                      const std::string& max) {
  using namespace valueformat;
  std::string out;
  out.reserve(36 + value.size() + type.size() + min.size() + max.size());
  out += kScalarMax;
  appendJsonEscaped(out, max);
  out += kScalarMin;
  appendJsonEscaped(out, min);
  out += kScalarType;
  appendJsonEscaped(out, type);
  out += kScalarValue;
  appendJsonEscaped(out, value);
  out += kScalarTail;
  return out;
}

std::string_view Introspection::printBool(bool value) {
  return value ? valueformat::kBoolTrue : valueformat::kBoolFalse;
}

char* placeAddress(const VariablePlace& place, uint32_t element) {
  char* payload = *MEMORY_POINTER_ARRAY[place.mem];
  return payload == nullptr ? nullptr : payload + place.offset + std::size_t{element} * place.size;
}

const char* eventName(Notify notify) {
  return notify.event < EVENT_NAME_SIZE ? EVENT_NAME[notify.event] : EVENT_NAME[EventInvalid];
}

namespace {
// Empty while no pattern is set: an empty expression would match between all characters.
std::optional<std::regex>& escapePattern() {
  static std::optional<std::regex> pattern;
  return pattern;
}
}  // namespace

std::string Introspection::escape(const std::string& text) {
  const std::optional<std::regex>& pattern = escapePattern();
  return pattern ? std::regex_replace(text, *pattern, "\\$&") : text;
}

void Introspection::setEscapeCharacters(const std::string& pattern) {
  if (pattern.empty()) {
    escapePattern().reset();
  } else {
    escapePattern() = std::regex(pattern, std::regex::ECMAScript);
  }
}
