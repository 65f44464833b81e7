#include "apps/gui/common/fb-linux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "apps/gui/common/fb-image.h"
#include "apps/gui/common/testimagefile.h"
#include "tests/unit/kernel_log_capture.h"

using testing::HasSubstr;

namespace {

auto failsWith(const char* message) { return testing::ThrowsMessage<std::runtime_error>(HasSubstr(message)); }
const auto kReadOnly = failsWith("Not allowed in read only mode");
const auto kOutside = failsWith("outside the frame-buffer memory");

}  // namespace

TEST(FbLinux, ReadOnlyFollowsThePageOnDisplayAtEveryCallWithinTheMemory) {
  TestImageFile image(16, 8, 2, 1, 2);
  FbLinux fb(image.path);
  const size_t logStart = testsupport::kernelLogText().size();
  fb.init();
  EXPECT_THAT(testsupport::kernelLogSince(logStart), HasSubstr("Framebuffer is 16x8x32, virtual is 16x16\n"));
  EXPECT_EQ(fb.pageCount(), 2);
  EXPECT_EQ(fb.pageSize(), 16u * 8 * 4);

  unsigned char* second = fb.currentAddress();
  EXPECT_EQ(second[fb.pageSize() - 1], 2);

  image.header.yoffset = 0;
  image.rewrite();
  unsigned char* first = fb.currentAddress();
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(second - first, static_cast<ptrdiff_t>(fb.pageSize()));

  EXPECT_THAT([&] { fb.clear(); }, kReadOnly);
  EXPECT_THAT([&] { fb.show(); }, kReadOnly);

  // A page outside the memory is refused, not read.
  image.header.yoffset = 16;  // a third page that the memory does not hold
  image.rewrite();
  EXPECT_THAT([&] { fb.currentAddress(); }, kOutside);
  image.header.yoffset = 0;
  image.header.lineLength = 1 << 20;  // rows padded past the memory
  image.rewrite();
  EXPECT_THAT([&] { fb.currentAddress(); }, kOutside);
  image.header.xres = 1 << 20;  // a row longer than its line
  image.header.lineLength = 16;
  image.rewrite();
  EXPECT_THAT([&] { fb.currentAddress(); }, failsWith("shorter than a row of 1048576 pixels"));
  // A page of exactly 4 GiB, which 32-bit arithmetic would take for an empty one.
  image.header.xres = 1 << 15;
  image.header.lineLength = 4 << 15;
  image.header.yres = 1 << 15;
  image.rewrite();
  EXPECT_THAT([&] { fb.currentAddress(); }, kOutside);
}

TEST(FbLinux, ZeroLinesGiveNoPagesAndTheFirstAddress) {
  TestImageFile image(16, 0, 1, 0, 0);
  image.header.smemLen = 4096;
  image.rewrite();
  ASSERT_EQ(::ftruncate(image.fd, fbimage::kPixelOffset + 4096), 0);
  FbLinux fb(image.path);
  fb.init();
  EXPECT_EQ(fb.pageCount(), 0);
  EXPECT_NE(fb.currentAddress(), nullptr);
}

TEST(FbLinux, WritableFormClearsAndFlipsPages) {
  TestImageFile image(4, 2, 2, 1, 2);
  FbLinux fb(image.path, 2);
  fb.init();
  EXPECT_EQ(image.read().yoffset, 0u);
  EXPECT_EQ(fb.backbufferAddress()[0], 0) << "page 0 is cleared at start";
  EXPECT_EQ(fb.frontbufferAddress()[0], 2) << "page 1 is untouched";

  fb.backbufferAddress()[0] = 0x7f;
  fb.show();
  EXPECT_EQ(fb.frontbufferAddress()[0], 0x7f);

  fb.clear();
  fb.show();
  EXPECT_EQ(image.read().yoffset, 2u);
  EXPECT_EQ(fb.currentAddress()[0], 0);
  EXPECT_EQ(fb.backbufferAddress()[0], 0x7f) << "back to page 0 after the last page";

  unsigned char stored = 0;
  ASSERT_EQ(::pread(image.fd, &stored, 1, fbimage::kPixelOffset), 1);
  EXPECT_EQ(stored, 0x7f) << "drawing reaches the file";
}

TEST(FbLinux, BrokenDevicesFailAtInitWithTheirStep) {
  EXPECT_THAT([] { FbLinux("/nonexistent/fb0").init(); }, failsWith("frambuffer open"));
  TestImageFile notAnImage(4, 2, 1, 0, 1);
  ASSERT_EQ(::pwrite(notAnImage.fd, "XBIM", 4, 0), 4);
  EXPECT_THAT([&] { FbLinux(notAnImage.path).init(); }, failsWith("screen info"));
  TestImageFile shortFile(4, 2, 2, 0, 1);
  EXPECT_THAT([&] { FbLinux(shortFile.path).init(); }, failsWith("map framebuffer"));
  TestImageFile twoPages(4, 2, 2, 0, 2);
  EXPECT_THAT([&] { FbLinux(twoPages.path, 3).init(); }, failsWith("screen info")) << "three pages in two";
}
