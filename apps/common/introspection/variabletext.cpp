#include "apps/common/introspection/variabletext.h"

#include <cstring>
#include <exception>
#include <string_view>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/numbertext.h"
#include "apps/common/log/log.h"
#include "gen/code/introspection_gen.h"

namespace {
constexpr std::string_view kNotAvailable = "n/a";

template <typename T>
T read(const char* address) {
  T value;
  std::memcpy(&value, address, sizeof value);
  return value;
}

// Elements of a structure array in brackets; -1 for a row rendered as one value.
int arrayCount(const VariableInfo& row) {
  return row.isArray && row.baseType != BaseString && row.baseType != BaseBuffer ? static_cast<int>(row.length) : -1;
}

// The row's generated text before and after its value; an enumeration outside its entries goes through
// its getter, which logs it.
void appendValue(std::string& out, const VariableInfo& row, int index) {
  const char* payload = *row.memory;
  if (row.baseType == BaseBool) {
    out += Introspection::printBool(payload != nullptr && payload[row.offset] != 0);
    return;
  }
  if (payload == nullptr) {
    out += row.head;
    out += kNotAvailable;
    out += row.tail;
    return;
  }
  const char* address = payload + row.offset;
  if (row.baseType == BaseStruct) {
    const uint32_t elements = row.isArray ? row.length : 1;
    if (index < 0 || static_cast<uint32_t>(index) >= elements || row.append == nullptr)
      THROW_ERROR("Index exceeds limit");
    row.append(out, address + static_cast<std::size_t>(index) * row.elementSize);
    return;
  }
  out += row.head;
  switch (row.baseType) {
    case BaseInt:
      appendDecimal(out, read<int32_t>(address));
      break;
    case BaseFloat:
      appendFixed(out, read<float>(address));
      break;
    case BaseBuffer:
      appendHex(out, address, row.length);
      break;
    case BaseEnum: {
      const auto value = read<uint32_t>(address);
      if (value < row.entries->count)
        out += row.entries->names[value];
      else
        out += row.getter(const_cast<char*>(address), 0);
      break;
    }
    default:
      appendJsonEscaped(out, std::string_view(address, strnlen(address, row.length)));
  }
  out += row.tail;
}

void appendFailure(std::string& out, std::string_view what) {
  out += "{\"error\": \"";
  appendJsonEscaped(out, what);
  out += "\"}";
}

void appendElement(std::string& out, const VariableInfo& row, int index) {
  const std::size_t start = out.size();
  try {
    appendValue(out, row, index);
  } catch (const std::exception& error) {
    out.resize(start);
    appendFailure(out, error.what());
  }
}

const VariableInfo& rowAt(unsigned int mem, unsigned int var) {
  if (mem >= MEMORY_ARRAY_SIZE || var >= MEMORY_ARRAY[mem].count) THROW_ERROR("Index exceeds limit");
  return MEMORY_ARRAY[mem].rows[var];
}
}  // namespace

void appendVariableValue(std::string& out, unsigned int mem, unsigned int var, int index) {
  const VariableInfo& row = rowAt(mem, var);
  const int count = arrayCount(row) < 0 ? 1 : arrayCount(row);
  if (index < 0 || index >= count) return appendFailure(out, "Index exceeds limit");
  appendElement(out, row, index);
}

void appendVariable(std::string& out, unsigned int mem, unsigned int var) {
  const VariableInfo& row = rowAt(mem, var);
  const int count = arrayCount(row);
  if (count < 0) {
    appendElement(out, row, 0);
    return;
  }
  out += '[';
  for (int i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    appendElement(out, row, i);
  }
  out += ']';
}
void appendVariableTree(std::string& out, const std::function<void()>& beforeVariable) {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    const MemoryInfo& memory = MEMORY_ARRAY[mem];
    out += '"';
    out += memory.name;
    out += "\" : {";
    for (unsigned int var = 0; var < memory.count; ++var) {
      if (beforeVariable) beforeVariable();
      if (var > 0) out += ',';
      out += '"';
      out += memory.rows[var].name;
      out += "\" : ";
      appendVariable(out, mem, var);
    }
    out += '}';
    if (mem + 1 < MEMORY_ARRAY_SIZE) out += ',';
  }
}
