// The colour converter fed in pieces of arbitrary sizes must give exactly what it gives for the
// whole text at once: a sequence cut between two reads of the kernel-log pipe converts alike.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "apps/web/service/logconverter.h"

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
  return 0;
}
