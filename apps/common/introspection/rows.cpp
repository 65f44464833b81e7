#include "apps/common/introspection/rows.h"

#include <stdexcept>
#include <string>

namespace {
unsigned int decimalCount(const char* text) {
  if (text == nullptr) return 0;
  try {
    int count = std::stoi(text, nullptr, 10);
    return count > 0 ? static_cast<unsigned int>(count) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}
}  // namespace

unsigned int stringCapacity(const VariableInfo& row) { return decimalCount(row.arrayLength); }

unsigned int structElementCount(const VariableInfo& row) { return row.isArray ? decimalCount(row.arrayLength) : 1; }
