#pragma once
// The rules of well-formed UTF-8 (RFC 3629), shared by every writer that must not pass on bytes that
// are not text: the JSON string writer and the kernel-log page.
#include <cstddef>
#include <string_view>

namespace utf8 {

inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the character a lead byte starts, 0 for a byte that starts none.
constexpr std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether b may stand at position `at` (1-3) of the character begun by lead: the second byte's range
// rules out overlong forms, surrogates and code points past U+10FFFF.
constexpr bool continues(unsigned char lead, std::size_t at, unsigned char b) {
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (at == 1) {
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  return b >= low && b <= high;
}

}  // namespace utf8
