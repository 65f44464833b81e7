#include "apps/web/service/logconverter.h"

#include <array>

#include "apps/common/utf8/utf8.h"

namespace {

constexpr char kEscape = 27;
// Codes above every colour code all convert alike; collecting stops here so that no run of digits overflows.
constexpr int kLargestCode = 1000000;

std::string span(const char* property, const std::string& color) {
  return std::string("<span style='") + property + "#" + color + "'>";
}

// The opening or closing tag of every code that has one of its own, built once.
struct SpanTable {
  static constexpr int kSize = 108;
  std::array<std::string, kSize> tags;

  SpanTable() {
    tags[0] = "</span>";
    for (int i = 0; i < 8; ++i) {
      tags[30 + i] = span("color: ", LogConverter::getColor(i, "AA", "00"));
      tags[40 + i] = span("background-color: ", LogConverter::getColor(i, "AA", "00"));
      tags[90 + i] = span("color: ", LogConverter::getColor(i, "FF", "55"));
      tags[100 + i] = span("background-color: ", LogConverter::getColor(i, "FF", "55"));
    }
  }

  const std::string& operator[](int code) const {
    static const std::string kEmptyStyle = "<span style=''>";
    return code < kSize && !tags[code].empty() ? tags[code] : kEmptyStyle;
  }
};

const SpanTable& spanTable() {
  static const SpanTable table;
  return table;
}

// Bytes copied as they are: ASCII but ESC and the three characters that are markup in a page's text.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int b = 0; b < 0x80; ++b) plain[b] = b != kEscape && b != '&' && b != '<' && b != '>';
  return plain;
}();

}  // namespace

std::string LogConverter::getColor(int code, const char* on, const char* off) {
  return std::string(code & 1 ? on : off) + (code & 2 ? on : off) + (code & 4 ? on : off);
}

// Adds bytes to the character begun before; a byte that cannot continue it ends it as one U+FFFD and
// is left for the text that follows.
const char* LogConverter::continueCharacter(const char* p, const char* end, LogText& html) {
  while (p < end && characterHas < characterNeeds) {
    if (!utf8::continues(static_cast<unsigned char>(character[0]), characterHas, static_cast<unsigned char>(*p))) {
      html.append(utf8::kReplacement);
      characterHas = 0;
      return p;
    }
    character[characterHas++] = *p++;
  }
  if (characterHas == characterNeeds) {
    html.append(character, characterHas);
    characterHas = 0;
  }
  return p;
}

// Copies text up to the next ESC, which it answers; end when there is none.
const char* LogConverter::copyText(const char* p, const char* end, LogText& html) {
  while (p < end) {
    if (characterHas > 0) {
      p = continueCharacter(p, end, html);
      continue;
    }
    const char* run = p;
    while (p < end && kPlain[static_cast<unsigned char>(*p)]) ++p;
    html.append(run, static_cast<size_t>(p - run));
    if (p == end) break;
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b == kEscape) return p;
    ++p;
    if (b == '&') {
      html.append("&amp;");
    } else if (b == '<') {
      html.append("&lt;");
    } else if (b == '>') {
      html.append("&gt;");
    } else if ((characterNeeds = static_cast<uint8_t>(utf8::sequenceLength(b))) == 0) {
      html.append(utf8::kReplacement);
    } else {
      character[0] = static_cast<char>(b);
      characterHas = 1;
    }
  }
  return end;
}

void LogConverter::convert(const char* data, size_t length, LogText& html) {
  const char* p = data;
  const char* const end = data + length;
  while (p < end) {
    switch (state) {
      case State::Text:
        p = copyText(p, end, html);
        if (p == end) return;
        ++p;
        sgrCode = 0;
        state = State::Escape;
        break;
      case State::Escape:
        // The introducer after ESC, normally "[", is taken as it comes.
        ++p;
        state = State::Parameter;
        break;
      case State::Parameter:
        while (p < end && *p >= '0' && *p <= '9') {
          if (sgrCode < kLargestCode) sgrCode = sgrCode * 10 + (*p - '0');
          ++p;
        }
        if (p == end) return;
        // Only the first number counts; whatever ends it closes the sequence.
        if (*p == 'm') html.append(spanTable()[sgrCode]);
        ++p;
        state = State::Text;
        break;
    }
  }
}
