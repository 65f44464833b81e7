#include "apps/web/service/screencapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "apps/gui/common/testimagefile.h"

namespace {

constexpr uint32_t kWidth = 40;
constexpr uint32_t kHeight = 30;

// A pixel pattern that tells every channel and position apart.
unsigned char patternByte(uint32_t x, uint32_t y, uint32_t channel) {
  switch (channel) {
    case 0:
      return static_cast<unsigned char>(x);  // B
    case 1:
      return static_cast<unsigned char>(y);  // G
    case 2:
      return static_cast<unsigned char>(x * 3 + y);  // R
    default:
      return static_cast<unsigned char>(100 + x);  // A
  }
}

std::vector<unsigned char> pattern() {
  std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 4);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      for (uint32_t c = 0; c < 4; ++c) pixels[(y * kWidth + x) * 4 + c] = patternByte(x, y, c);
  return pixels;
}

std::string capture(const std::string& device) {
  ScreenCapture capture(device);
  std::ostringstream out;
  out << capture;
  return out.str();
}

// Two pages, the second on display; page 0 is uniform, page 1 carries the pattern.
class TwoPageFrameBuffer : public testing::Test {
 protected:
  void SetUp() override { image.writePage(1, pattern()); }
  void show(uint32_t yoffset, uint32_t bitsPerPixel = 32) {
    image.header.yoffset = yoffset;
    image.header.bitsPerPixel = bitsPerPixel;
    image.rewrite();
  }

  TestImageFile image{kWidth, kHeight, 2, 1, 1};
};

struct Decoded {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<unsigned char> rgba;
};

Decoded decode(const std::string& data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded result;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
    ADD_FAILURE() << "not a PNG: " << image.message;
    return result;
  }
  EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, PNG_FORMAT_FLAG_ALPHA);
  image.format = PNG_FORMAT_RGBA;
  result.width = image.width;
  result.height = image.height;
  result.rgba.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr)) << image.message;
  return result;
}

}  // namespace

TEST_F(TwoPageFrameBuffer, CapturesThePageOnDisplayAsRgba) {
  ScreenCapture capture(image.path);
  std::ostringstream out;
  out << capture;
  const std::string png = out.str();
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  Decoded shown = decode(png);
  ASSERT_EQ(shown.width, kWidth);
  ASSERT_EQ(shown.height, kHeight);
  int wrong = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const unsigned char* p = &shown.rgba[(y * kWidth + x) * 4];
      if (p[0] != patternByte(x, y, 2) || p[1] != patternByte(x, y, 1) || p[2] != patternByte(x, y, 0) ||
          p[3] != patternByte(x, y, 3))
        ++wrong;
    }
  EXPECT_EQ(wrong, 0);

  show(0);
  std::ostringstream again;
  capture.startWrite(again);
  Decoded firstPage = decode(again.str());
  ASSERT_EQ(firstPage.rgba.size(), size_t(kWidth) * kHeight * 4);
  EXPECT_EQ(firstPage.rgba.front(), 1);
  EXPECT_EQ(firstPage.rgba.back(), 1);
}

TEST_F(TwoPageFrameBuffer, PaddedRowsGiveTheSamePicture) {
  TestImageFile padded{kWidth, kHeight, 2, 1, 1, 64};
  padded.writePage(1, pattern());
  const std::string picture = capture(padded.path);
  EXPECT_EQ(decode(picture).rgba, decode(capture(image.path)).rgba);
  EXPECT_EQ(picture, capture(image.path));

  padded.header.lineLength = kWidth * 4 + 64 * kHeight;  // past the memory on the second page
  padded.rewrite();
  ScreenCapture refused(padded.path);
  std::ostringstream out;
  EXPECT_THROW(refused.startWrite(out), std::runtime_error);
  EXPECT_TRUE(out.str().empty());
}

TEST_F(TwoPageFrameBuffer, UncapturableFrameThrowsBeforeWritingAnything) {
  ScreenCapture capture(image.path);
  show(kHeight, 16);
  std::ostringstream out;
  EXPECT_THROW(capture.startWrite(out), std::runtime_error);
  show(2 * kHeight);
  EXPECT_THROW(capture.startWrite(out), std::runtime_error);
  EXPECT_TRUE(out.str().empty());

  show(kHeight);
  capture.startWrite(out);
  EXPECT_EQ(decode(out.str()).width, kWidth) << "a failed capture leaves the object usable";
}
