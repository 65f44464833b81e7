// The colour converter fed in pieces of arbitrary sizes must give exactly what it gives for the
// whole text at once: a sequence cut between two reads of the kernel-log pipe converts alike. Whatever
// the log holds, the page it gives has no markup but the converter's spans and is UTF-8 throughout.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "apps/web/service/logconverter.h"
#include "apps/web/service/test/log_markup_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t pieces = input.ConsumeIntegralInRange<size_t>(0, 64);
  std::string cuts = input.ConsumeBytesAsString(pieces);
  const std::string text = input.ConsumeRemainingBytesAsString();

  LogText whole;
  LogConverter().convert(text.data(), text.size(), whole);

  LogText chunked;
  LogConverter converter;
  size_t at = 0;
  for (unsigned char cut : cuts) {
    size_t length = std::min<size_t>(cut, text.size() - at);
    converter.convert(text.data() + at, length, chunked);
    at += length;
  }
  converter.convert(text.data() + at, text.size() - at, chunked);

  if (whole.view() != chunked.view()) std::abort();
  if (logmarkup::foreignMarkupAt(whole.view()) != std::string_view::npos) std::abort();
  return 0;
}
