// An upload's content type and multipart body from outside, and header lines split alone.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"
#include "fuzz/quiet_kernel_log.h"

namespace {
std::string uploadFile;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  uploadFile = "/tmp/multipart_fuzzer_" + std::to_string(::getpid());
  std::atexit([] { ::unlink(uploadFile.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Request request(nullptr, -1, 0);
  request.params["CONTENT_TYPE"] = input.ConsumeRandomLengthString(256);
  request.postData = input.ConsumeRemainingBytesAsString();

  std::map<std::string, std::string> headers;
  QorApp::splitHeaderLine(headers, request.params["CONTENT_TYPE"]);

  QorApp app("board", "serial", QorApp::Paths{});
  std::map<std::string, std::string> fields;
  app.parseFormData(&request, fields, uploadFile.c_str());
  // Nothing is made up: every stored value is a piece of the body (or the upload file's name).
  for (const auto& [name, value] : fields)
    if (value != uploadFile && value.size() > request.postData.size()) std::abort();
  return 0;
}
