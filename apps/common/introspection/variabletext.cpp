#include "apps/common/introspection/variabletext.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/numbertext.h"
#include "apps/common/introspection/rows.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/log/log.h"
#include "gen/code/introspection_gen.h"

namespace {
constexpr std::string_view kNotAvailable = "n/a";

// What a row's rendering holds besides its value: the text before and after it, cut out of the
// renderers' own output for an empty value, and what the value is read with.
struct RowText {
  std::string head;
  std::string tail;
  unsigned int size = 0;  // characters of a string, bytes of a buffer, elements of a structure
  int arrayCount = -1;    // the bracketed elements of an array, -1 when the row is one value
  const EnumInfo* entries = nullptr;
  StructAppender append = nullptr;
};

void split(RowText& text, const std::string& rendered, std::size_t valueAt) {
  text.head = rendered.substr(0, valueAt);
  text.tail = rendered.substr(valueAt);
}

RowText prepare(unsigned int mem, unsigned int var) {
  const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
  RowText text;
  const unsigned int base = row.baseType;
  if (Introspection::isArray(mem, var) && base != BaseString && base != BaseBuffer)
    text.arrayCount = row.arrayLength == nullptr ? 0 : std::max(0, std::stoi(row.arrayLength));
  switch (base) {
    case BaseStruct:
      text.size = structElementCount(row);
      for (unsigned int s = 0; s < STRUCT_APPENDER_ARRAY_SIZE; ++s) {
        if (STRUCT_APPENDER_ARRAY[s].fields == row.fields) text.append = STRUCT_APPENDER_ARRAY[s].append;
      }
      break;
    case BaseEnum: {
      text.entries = &ENUM_ARRAY[IntrospectionEnum::getEnumIndex(row.typeName)];
      const std::string rendered = IntrospectionEnum::printEnum("", row.typeName);
      split(text, rendered, rendered.find("\"\", ") + 1);
      break;
    }
    case BaseBool:
      break;
    default: {
      text.size = stringCapacity(row);
      const std::string rendered =
          Introspection::printValue("", base == BaseBuffer ? "string" : row.typeName,
                                    Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
      split(text, rendered, rendered.size() - 2);
    }
  }
  return text;
}

std::vector<std::vector<RowText>> prepareAll() {
  std::vector<std::vector<RowText>> table(MEMORY_ARRAY_SIZE);
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) table[mem].push_back(prepare(mem, var));
  }
  return table;
}

template <typename T>
T read(const char* address) {
  T value;
  std::memcpy(&value, address, sizeof value);
  return value;
}

// As the rows' getters read them; an enumeration outside its entries goes through its getter, which logs it.
void appendValue(std::string& out, const VariableInfo& row, const RowText& text, int index) {
  if (row.baseType == BaseBool) {
    const char* payload = *row.memory;
    out += Introspection::printBool(payload != nullptr && payload[row.offset] != 0);
    return;
  }
  const char* payload = *row.memory;
  if (payload == nullptr) {
    if (row.baseType != BaseStruct) out += text.head;
    out += kNotAvailable;
    if (row.baseType != BaseStruct) out += text.tail;
    return;
  }
  const char* address = payload + row.offset;
  if (row.baseType == BaseStruct) {
    if (index < 0 || static_cast<unsigned int>(index) >= text.size || text.append == nullptr)
      THROW_ERROR("Index exceeds limit");
    text.append(out, address + static_cast<std::size_t>(index) * row.elementSize);
    return;
  }
  out += text.head;
  switch (row.baseType) {
    case BaseInt:
      appendDecimal(out, read<int32_t>(address));
      break;
    case BaseFloat:
      appendFixed(out, read<float>(address));
      break;
    case BaseBuffer:
      appendHex(out, address, text.size);
      break;
    case BaseEnum: {
      const auto value = read<uint32_t>(address);
      if (value < text.entries->count)
        out += text.entries->names[value];
      else
        out += row.getter(const_cast<char*>(address), 0);
      break;
    }
    default:
      appendJsonEscaped(out, std::string_view(address, strnlen(address, text.size)));
  }
  out += text.tail;
}

void appendFailure(std::string& out, std::string_view what) {
  out += "{\"error\": \"";
  appendJsonEscaped(out, what);
  out += "\"}";
}

void appendElement(std::string& out, const VariableInfo& row, const RowText& text, int index) {
  const std::size_t start = out.size();
  try {
    appendValue(out, row, text, index);
  } catch (const std::exception& error) {
    out.resize(start);
    appendFailure(out, error.what());
  }
}

const std::vector<std::vector<RowText>>& rowTable() {
  static const std::vector<std::vector<RowText>> table = prepareAll();
  return table;
}

const RowText& rowText(unsigned int mem, unsigned int var) {
  const std::vector<std::vector<RowText>>& table = rowTable();
  if (mem >= MEMORY_ARRAY_SIZE || var >= MEMORY_ARRAY[mem].count) THROW_ERROR("Index exceeds limit");
  return table[mem][var];
}
}  // namespace

void prepareVariableText() { rowTable(); }

void appendVariableValue(std::string& out, unsigned int mem, unsigned int var, int index) {
  const RowText& text = rowText(mem, var);
  const int count = text.arrayCount < 0 ? 1 : text.arrayCount;
  if (index < 0 || index >= count) return appendFailure(out, "Index exceeds limit");
  appendElement(out, MEMORY_ARRAY[mem].rows[var], text, index);
}

void appendVariable(std::string& out, unsigned int mem, unsigned int var) {
  const RowText& text = rowText(mem, var);
  const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
  if (text.arrayCount < 0) {
    appendElement(out, row, text, 0);
    return;
  }
  out += '[';
  for (int i = 0; i < text.arrayCount; ++i) {
    if (i > 0) out += ',';
    appendElement(out, row, text, i);
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
