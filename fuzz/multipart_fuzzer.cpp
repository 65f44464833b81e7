// An upload's content type and multipart body from outside, parsed whole and again in random pieces,
// as records bring it: both must give the same fields, the same file and the same end.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "apps/web/service/qorapp.h"
#include "apps/web/service/qorapp_multipart.h"
#include "fuzz/quiet_kernel_log.h"

namespace {
struct Result {
  MultipartParser::Fields fields;
  std::string file;
  bool complete;
  bool failed;
  std::string failure;
  bool operator==(const Result&) const = default;
};

Result parse(const std::string& boundary, std::string_view body, const std::vector<size_t>& pieces) {
  Result result;
  MultipartParser parser(boundary, [&result](std::string_view bytes) {
    result.file.append(bytes);
    return true;
  });
  for (size_t size : pieces) {
    parser.feed(body.substr(0, size));
    body.remove_prefix(std::min(size, body.size()));
  }
  parser.feed(body);
  result.fields = parser.fields();
  result.complete = parser.complete();
  result.failed = parser.failed();
  result.failure = parser.failureText();
  return result;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string contentType = input.ConsumeRandomLengthString(256);
  std::vector<size_t> pieces(input.ConsumeIntegralInRange<size_t>(0, 16));
  for (size_t& piece : pieces) piece = input.ConsumeIntegralInRange<size_t>(0, 64);
  const std::string body = input.ConsumeRemainingBytesAsString();

  std::map<std::string, std::string> headers;
  QorApp::splitHeaderLine(headers, contentType);
  std::string boundary = MultipartParser::boundaryOf(contentType);
  if (boundary.empty()) boundary = "b";

  const Result whole = parse(boundary, body, {});
  if (!(parse(boundary, body, pieces) == whole)) std::abort();
  // Nothing is made up: every stored value is a piece of the body, and so is the file.
  if (whole.file.size() > body.size()) std::abort();
  for (const auto& [name, value] : whole.fields)
    if (value.size() > body.size()) std::abort();
  return 0;
}
