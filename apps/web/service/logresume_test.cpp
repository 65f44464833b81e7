#include "apps/web/service/logresume.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

// Feeds data in pieces that cut lines anywhere, as pipe reads do.
std::string feed(LogResume& resume, std::string_view data, size_t piece = 3) {
  std::string out;
  for (size_t at = 0; at < data.size(); at += piece) resume.take(data.substr(at, piece), out);
  return out;
}

TEST(LogResume, ARestartedReaderAddsOnlyWhatThePageLacks) {
  LogResume resume;
  resume.restart();
  EXPECT_EQ(feed(resume, "a\nb\na\npart"), "a\nb\na\npart") << "a first reader has nothing to skip";

  // The same buffer again, grown: the replay is skipped by count and text, an earlier copy of the last
  // line does not end the skipping, and only the rest of the line the old reader was cut off in is new.
  resume.restart();
  EXPECT_EQ(feed(resume, "a\nb\na\npartly\nc\n"), "ly\nc\n");
  EXPECT_FALSE(resume.replaying());
  EXPECT_EQ(feed(resume, "d\n"), "d\n");

  // The kernel dropped its oldest lines meanwhile: what follows the latest copy of the last line is new,
  // though the replay reaches the page's line count only with new lines.
  resume.restart();
  EXPECT_EQ(feed(resume, "partly\nc\nd\ne\nf\ng\n"), "e\nf\ng\n");
  EXPECT_EQ(feed(resume, "h\n"), "h\n");

  // A replay that ends short of the page's count is settled once quiet; before it begins there is
  // nothing to settle.
  resume.restart();
  std::string out;
  EXPECT_FALSE(resume.settle(out));
  EXPECT_EQ(feed(resume, "g\nh\ni\nj"), "");
  EXPECT_TRUE(resume.replaying());
  EXPECT_TRUE(resume.settle(out));
  EXPECT_EQ(out, "i\nj");
  EXPECT_EQ(feed(resume, "k\n"), "k\n");

  // With every line of the page gone from the buffer, the whole replay is new.
  resume.restart();
  EXPECT_EQ(feed(resume, "l\nm\nn\no\np\nq\nr\ns\nt\nu\nv\nw\n"), "l\nm\nn\no\np\nq\nr\ns\nt\nu\nv\nw\n");
}

}  // namespace
