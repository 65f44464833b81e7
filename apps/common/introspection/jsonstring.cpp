#include "apps/common/introspection/jsonstring.h"

#include <array>
#include <cstdint>

#include "apps/common/introspection/numbertext.h"
#include "apps/common/utf8/utf8.h"

namespace {
// Bytes copied as they are: printable ASCII (and DEL) except the quote and the backslash.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

void appendEscape(std::string& out, unsigned char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default: {
      out += "\\u00";
      appendHex(out, &c, 1);
    }
  }
}

// Length of the well-formed UTF-8 sequence at text[at], or 0 when it is ill-formed; then `subpart`
// holds the length of its maximal subpart (at least 1), the bytes one U+FFFD stands for.
std::size_t sequenceLength(std::string_view text, std::size_t at, std::size_t& subpart) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = utf8::sequenceLength(lead);
  subpart = 1;
  if (length == 0) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if (at + k >= text.size() || !utf8::continues(lead, k, static_cast<unsigned char>(text[at + k]))) return 0;
    subpart = k + 1;
  }
  return length;
}
}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t run = at;
    while (run < text.size() && kPlain[static_cast<unsigned char>(text[run])]) ++run;
    out.append(text.data() + at, run - at);
    at = run;
    if (at == text.size()) break;
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      appendEscape(out, c);
      ++at;
      continue;
    }
    std::size_t subpart = 1;
    if (std::size_t length = sequenceLength(text, at, subpart); length != 0) {
      out.append(text.data() + at, length);
      at += length;
    } else {
      out += utf8::kReplacement;
      at += subpart;
    }
  }
}

std::ostream& operator<<(std::ostream& out, JsonEscaped text) {
  std::string escaped;
  appendJsonEscaped(escaped, text.text);
  return out << escaped;
}
