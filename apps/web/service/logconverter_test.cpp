#include "apps/web/service/logconverter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string convertWhole(const std::string& input) {
  LogText html;
  LogConverter().convert(input.data(), input.size(), html);
  return std::string(html.view());
}

}  // namespace

TEST(LogConverter, SequencesBecomeSpansTextCannotAddMarkupAndBytesThatAreNotUtf8AreReplaced) {
  EXPECT_EQ(convertWhole("\x1b[32mabc\x1b[0m"), "<span style='color: #00AA00'>abc</span>");
  EXPECT_EQ(convertWhole("\x1b[1m"), "<span style=''>");
  EXPECT_EQ(convertWhole("\x1b[101m"), "<span style='background-color: #FF5555'>");
  EXPECT_EQ(convertWhole("\x1b[44m\x1b[97m"), "<span style='background-color: #0000AA'><span style='color: #FFFFFF'>");
  EXPECT_EQ(convertWhole("a\x1b[mb"), "a</span>b") << "no digits reads as code 0";
  EXPECT_EQ(convertWhole("\x1b[1;31mred"), "31mred") << "only the first number counts; its end closes the sequence";
  EXPECT_EQ(convertWhole("\x1b[2Kx"), "x") << "a sequence that is not SGR vanishes";
  EXPECT_EQ(convertWhole("\x1b[38m\x1b[108m\x1b[99999999999999999999m"),
            "<span style=''><span style=''><span style=''>");

  EXPECT_EQ(convertWhole("&amp; &#60; <!-- \x1b[31m<\x1b[0m>"),
            "&amp;amp; &amp;#60; &lt;!-- <span style='color: #AA0000'>&lt;</span>&gt;");
  // A sequence cannot smuggle markup either: what closes it is dropped, what follows is text.
  EXPECT_EQ(convertWhole("\x1b[<b>\x1b<i>"), "b&gt;&gt;");

  // Bytes that are not UTF-8 become replacement characters.
  const std::string kFffd = "\xEF\xBF\xBD";
  const std::string valid = "\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x93\xB7 \xED\x9F\xBF \xF4\x8F\xBF\xBF";
  EXPECT_EQ(convertWhole(valid), valid);
  EXPECT_EQ(convertWhole("a\xFF!\x80."), "a" + kFffd + "!" + kFffd + ".");
  // Overlong forms, a surrogate and a code point past U+10FFFF: the lead byte alone is replaced, then
  // every following byte that is no lead byte.
  EXPECT_EQ(convertWhole("\xC0\xAF"), kFffd + kFffd);
  EXPECT_EQ(convertWhole("\xE0\x80\xAF"), kFffd + kFffd + kFffd);
  EXPECT_EQ(convertWhole("\xED\xA0\x80"), kFffd + kFffd + kFffd);
  EXPECT_EQ(convertWhole("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);
  // A character cut short by another byte is one replacement, and that byte counts on its own.
  EXPECT_EQ(convertWhole("\xE2\x82<"), kFffd + "&lt;");
  EXPECT_EQ(convertWhole("\xF0\x9F\x93\x1b[31mx"), kFffd + "<span style='color: #AA0000'>x");
  EXPECT_EQ(convertWhole("\xC3\xC3\xA4"), kFffd + "\xC3\xA4");

  // A character cut by the end of a piece is held back until it is whole: every text served is UTF-8.
  LogConverter converter;
  LogText html;
  converter.convert("x\xF0\x9F", 3, html);
  EXPECT_EQ(html.view(), "x");
  converter.convert("\x93\xB7", 2, html);
  EXPECT_EQ(html.view(), "x\xF0\x9F\x93\xB7");
}
