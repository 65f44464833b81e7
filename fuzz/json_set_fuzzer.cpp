// A set request's body: the flat reader alone, then the whole write path into zeroed stand-ins for
// the twenty segments (announcing a change fails without a broker, which the write path must survive).
#include <cstdlib>
#include <sstream>
#include <string>

#include "apps/common/introspection/json.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/requesthandler.h"
#include "fuzz/quiet_kernel_log.h"

namespace {
TestPayloads* segments;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  segments = new TestPayloads;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  Json reader;
  if (!reader.parse(body) && (reader.errorPosition < 0 || size_t(reader.errorPosition) >= size)) std::abort();
  std::stringstream errors;
  RequestHandler::setVars(body, errors);
  return 0;
}
