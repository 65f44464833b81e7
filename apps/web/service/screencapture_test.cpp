#include "apps/web/service/screencapture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "apps/gui/common/testimagefile.h"

namespace {

constexpr uint32_t kWidth = 40;
constexpr uint32_t kHeight = 30;

// Rows of ramps (the pixel to the left predicts them) and rows of noise repeated below each other
// (the row above does), so that the encoder takes both ways of filtering; the first row, with no row
// above, is noise. BGRA in the frame buffer.
std::vector<unsigned char> pattern() {
  constexpr size_t kRow = size_t(kWidth) * 4;
  std::vector<unsigned char> pixels(kRow * kHeight);
  std::mt19937 random(7);
  for (size_t y = 0; y < kHeight; ++y)
    for (size_t i = 0; i < kRow; ++i) {
      unsigned char& byte = pixels[y * kRow + i];
      if (y % 6 == 0)
        byte = static_cast<unsigned char>(random());
      else if (y % 6 < 3)
        byte = pixels[(y - 1) * kRow + i];
      else
        byte = static_cast<unsigned char>(i * 7 + y * 13);
    }
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

// The pixels of a PNG of the frame buffer's size, as RGBA.
std::vector<unsigned char> decode(const std::string& data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
    ADD_FAILURE() << "not a PNG: " << image.message;
    return {};
  }
  EXPECT_EQ(image.width, kWidth);
  EXPECT_EQ(image.height, kHeight);
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) << image.message;
  return rgba;
}

}  // namespace

TEST_F(TwoPageFrameBuffer, CapturesThePageOnDisplayAsRgbaWhateverTheRowPaddingOrRefusesTheFrame) {
  const auto asRgba = [](std::vector<unsigned char> pixels) {
    for (size_t i = 0; i < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);
    return pixels;
  };
  constexpr size_t kColourType = 25;  // in the header chunk, after the signature
  std::string png = capture(image.path);
  EXPECT_EQ(decode(png), asRgba(pattern()));
  EXPECT_EQ(png[kColourType], 6) << "with alpha";
  // All opaque: the alpha channel is left out, and the pixels decode the same.
  std::vector<unsigned char> opaque = pattern();
  for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 0xff;
  image.writePage(1, opaque);
  png = capture(image.path);
  EXPECT_EQ(decode(png), asRgba(opaque));
  EXPECT_EQ(png[kColourType], 2) << "without alpha";
  image.writePage(1, pattern());

  TestImageFile padded{kWidth, kHeight, 2, 1, 1, 64};
  padded.writePage(1, pattern());
  EXPECT_EQ(capture(padded.path), capture(image.path));

  // A frame that cannot be captured throws before anything is written.
  ScreenCapture reused(image.path);
  show(kHeight, 16);
  std::ostringstream out;
  EXPECT_THROW(reused.startWrite(out), std::runtime_error);
  EXPECT_TRUE(out.str().empty());

  show(kHeight);
  reused.startWrite(out);
  EXPECT_EQ(out.str(), capture(image.path)) << "a failed capture leaves the object usable";
}
