// A set request's body: the flat reader alone, then the whole write path into zeroed stand-ins for
// the twenty segments (announcing a change fails without a broker, which the write path must survive).
// Whatever was stored, and the raw input itself as a string value, must render as valid JSON.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/json.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/requesthandler.h"
#include "fuzz/quiet_kernel_log.h"

namespace {
TestPayloads* segments;
std::vector<std::string> before;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  segments = new TestPayloads;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem)
    before.emplace_back(*MEMORY_ARRAY[mem].rows[0].memory, MEMORY_ARRAY[mem].payloadSize);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  Json reader;
  if (!reader.parse(body) && (reader.errorPosition < 0 || size_t(reader.errorPosition) >= size)) std::abort();
  std::stringstream errors;
  RequestHandler::setVars(body, errors);

  // After a write that changed anything the whole state renders as JSON; the copy is then made equal again.
  bool changed = false;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    char* payload = *MEMORY_ARRAY[mem].rows[0].memory;
    if (std::memcmp(payload, before[mem].data(), before[mem].size()) == 0) continue;
    changed = true;
    std::memcpy(before[mem].data(), payload, before[mem].size());
  }
  if (changed) {
    std::string tree;
    RequestHandler::createJsonTree(tree);
    if (!nlohmann::json::accept("{" + tree + "}")) std::abort();
  }
  // The raw bytes as a stored string, without a terminator when they fill the field.
  static const unsigned int stringMem = Introspection::getMemIndex("MemStatic");
  static unsigned int stringVar = 0;
  if (!Introspection::findVariable(stringMem, "ModemVersionString", stringVar)) std::abort();
  const VariableInfo& row = MEMORY_ARRAY[stringMem].rows[stringVar];
  char* field = *row.memory + row.offset;
  const size_t capacity = row.length;
  const size_t length = std::min(size, capacity);
  std::memcpy(field, data, length);
  std::string value;
  RequestHandler::printVariable(stringMem, stringVar, value);
  if (!nlohmann::json::accept(value)) std::abort();
  std::memcpy(before[stringMem].data() + row.offset, field, length);
  return 0;
}
