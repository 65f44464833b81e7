#include "apps/web/service/logtext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "apps/web/service/test/log_markup_check.h"

TEST(LogText, GrowsKeepingEveryByteOrKeepsTheNewestPartCountingPositionsFromTheStreamStart) {
  LogText text(SIZE_MAX);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    std::string part = std::to_string(i) + (i % 7 == 0 ? std::string(3000, 'x') : ",");
    text.append(part);
    expected += part;
  }
  text.append("", 0);
  EXPECT_EQ(text.view(), expected);

  LogText newest(8);
  std::string stream;
  for (const char* piece : {"abc", "defgh", "ij", "k", "lmnopq", "", "r"}) {
    newest.append(piece, std::strlen(piece));
    stream += piece;
    EXPECT_EQ(newest.total(), stream.size());
    EXPECT_EQ(newest.dropped() + newest.size(), stream.size());
    EXPECT_EQ(newest.view(), std::string_view(stream).substr(newest.dropped())) << "after " << piece;
    // Never much more than the kept size, and, without lines to keep whole, never less of it than the stream has.
    EXPECT_LE(newest.size(), 10u);
    EXPECT_GE(newest.size(), std::min<size_t>(stream.size(), 8));
  }
  EXPECT_GT(newest.dropped(), 0u);

  LogText big(1024);
  const std::string block(5000, 'x');
  big.append(block);
  big.append("tail");
  EXPECT_EQ(big.total(), 5004u);
  EXPECT_EQ(big.dropped(), 5000u - 1024u);
  EXPECT_EQ(big.view(), std::string(1024, 'x') + "tail");
}

TEST(LogText, DropsWholeLinesAndNeverCutsATagAnEntityOrACharacter) {
  // At least `least` bytes go, up to the end of the line that reaches there.
  EXPECT_EQ(LogText::cutPoint("ab\ncd\nef", 0), 0u);
  EXPECT_EQ(LogText::cutPoint("ab\ncd\nef", 1), 3u);
  EXPECT_EQ(LogText::cutPoint("ab\ncd\nef", 3), 3u);
  EXPECT_EQ(LogText::cutPoint("ab\ncd\nef", 4), 6u);
  // A line longer than what is kept is cut between the pieces it is made of.
  const std::string tag = "<span style='color: #AA0000'>";
  EXPECT_EQ(LogText::cutPoint("ab" + tag + "x", 5), 2 + tag.size());
  EXPECT_EQ(LogText::cutPoint("ab" + tag + "x", 2), 2u);
  EXPECT_EQ(LogText::cutPoint(tag + "xyz", tag.size() + 1), tag.size() + 1);
  EXPECT_EQ(LogText::cutPoint("ab<span st", 5), 10u) << "a tag not yet whole goes whole";
  EXPECT_EQ(LogText::cutPoint("a&amp;b", 3), 6u);
  EXPECT_EQ(LogText::cutPoint("a&amp;b", 1), 1u);
  EXPECT_EQ(LogText::cutPoint("&lt;a;b", 5), 5u) << "a \";\" of the text ends no entity";
  EXPECT_EQ(LogText::cutPoint("x\xE2\x82\xACy", 2), 4u);
  EXPECT_EQ(LogText::cutPoint("x\xE2\x82\xACy", 1), 1u);

  // A stream of converted lines: the kept part always starts a line, and positions stay the stream's.
  const std::string line = "<span style='color: #AAAA00'>w\xC3\xA4rm &amp; &lt;x&gt;</span> line ";
  LogText lines(1000);
  std::string stream;
  for (int i = 0; i < 400; ++i) {
    const std::string piece = line + std::to_string(i) + "\n";
    lines.append(piece);
    stream += piece;
    ASSERT_EQ(lines.view(), std::string_view(stream).substr(lines.dropped()));
    ASSERT_TRUE(lines.dropped() == 0 || stream[lines.dropped() - 1] == '\n') << "dropped " << lines.dropped();
    ASSERT_LE(lines.size(), 1000u + 250u + piece.size());
  }
  EXPECT_GT(lines.dropped(), 20000u);
  EXPECT_GE(lines.size(), 1000u - 2 * line.size());

  // One line without an end, longer than the kept part: what is kept is still whole tags and characters.
  LogText endless(1000);
  for (int i = 0; i < 300; ++i) {
    endless.append(line);
    ASSERT_EQ(logmarkup::foreignMarkupAt(endless.view()), std::string_view::npos) << endless.view();
  }
  EXPECT_GT(endless.dropped(), 0u);
}
