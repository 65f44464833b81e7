#pragma once
// Tells whether a converted log, parsed as HTML, holds nothing but text and the converter's own spans,
// and is UTF-8 throughout. Written apart from the converter, so that the two do not share a mistake.
#include <cstddef>
#include <regex>
#include <string_view>

namespace logmarkup {

// Length of the converter's tag at the start of text, 0 when it is not one.
inline size_t spanTagLength(std::string_view text) {
  static const std::regex tag("</span>|<span style='((background-)?color: #[0-9A-Fa-f]{6})?'>");
  std::match_results<std::string_view::const_iterator> match;
  return std::regex_search(text.begin(), text.end(), match, tag, std::regex_constants::match_continuous)
             ? static_cast<size_t>(match.length(0))
             : 0;
}

// Length of the UTF-8 character at the start of text (RFC 3629), 0 when it is none.
inline size_t characterLength(std::string_view text) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead < 0xC0) return 0;  // a continuation byte
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  unsigned code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (lead > 0xF4 || code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Offset of the first byte that breaks out of text and spans; npos when there is none.
inline size_t foreignMarkupAt(std::string_view html) {
  size_t at = 0;
  while (at < html.size()) {
    const std::string_view rest = html.substr(at);
    size_t length = 0;
    if (rest[0] == '<') {
      length = spanTagLength(rest);
    } else if (rest[0] == '&') {
      for (std::string_view entity : {"&amp;", "&lt;", "&gt;"})
        if (rest.starts_with(entity)) length = entity.size();
    } else if (rest[0] != '>' && rest[0] != '\x1b') {
      length = characterLength(rest);
    }
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

}  // namespace logmarkup
