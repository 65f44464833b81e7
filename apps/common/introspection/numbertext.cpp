#include "apps/common/introspection/numbertext.h"

#include <charconv>
#include <cmath>

void appendDecimal(std::string& out, int32_t value) {
  char text[12];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, static_cast<std::size_t>(end - text));
}

void appendFixed(std::string& out, float value) {
  char text[64];
  // A float times 10^6 is exact in a double (24 + 14 significant bits), so rounding that product to an
  // integer rounds the value's exact decimal expansion, as printf does; beyond 2^53 the library formats.
  const double scaled = static_cast<double>(value) * 1e6;
  if (!(std::fabs(scaled) < 9007199254740992.0)) {
    const auto end =
        std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::fixed, 6).ptr;
    out.append(text, static_cast<std::size_t>(end - text));
    return;
  }
  const auto micros = static_cast<uint64_t>(std::nearbyint(std::fabs(scaled)));
  char* end = text + sizeof text;
  char* at = end;
  uint64_t whole = micros / 1000000;
  uint32_t fraction = static_cast<uint32_t>(micros % 1000000);
  for (int digit = 0; digit < 6; ++digit, fraction /= 10) *--at = static_cast<char>('0' + fraction % 10);
  *--at = '.';
  do {
    *--at = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (std::signbit(value)) *--at = '-';
  out.append(at, static_cast<std::size_t>(end - at));
}

void appendHex(std::string& out, const void* address, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const unsigned char*>(address);
  for (std::size_t i = 0; i < count; ++i) {
    const char pair[2] = {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0f]};
    out.append(pair, 2);
  }
}
