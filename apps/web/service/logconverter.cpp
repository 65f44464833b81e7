#include "apps/web/service/logconverter.h"

#include <array>
#include <cstring>

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

}  // namespace

std::string LogConverter::getColor(int code, const char* on, const char* off) {
  return std::string(code & 1 ? on : off) + (code & 2 ? on : off) + (code & 4 ? on : off);
}

void LogConverter::convert(const char* data, size_t length, LogText& html) {
  const char* p = data;
  const char* const end = data + length;
  while (p < end) {
    switch (state) {
      case State::Text: {
        const char* escape = static_cast<const char*>(std::memchr(p, kEscape, end - p));
        if (escape == nullptr) {
          html.append(p, static_cast<size_t>(end - p));
          return;
        }
        html.append(p, static_cast<size_t>(escape - p));
        p = escape + 1;
        sgrCode = 0;
        state = State::Escape;
        break;
      }
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
