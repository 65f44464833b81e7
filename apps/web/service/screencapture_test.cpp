#include "apps/web/service/screencapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "apps/gui/common/fb-image.h"

namespace {

constexpr uint32_t kWidth = 40;
constexpr uint32_t kHeight = 30;

// Page 0 is uniform grey; page 1 carries a pixel pattern that tells every channel and position apart.
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

class TwoPageFrameBuffer : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/screencapture-test-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
    header.xres = header.xresVirtual = kWidth;
    header.yres = kHeight;
    header.yresVirtual = 2 * kHeight;
    header.yoffset = kHeight;
    header.bitsPerPixel = 32;
    header.lineLength = kWidth * 4;
    header.smemLen = kWidth * kHeight * 4 * 2;
    ASSERT_EQ(fbimage::writeHeader(fd, header), 0);
    std::vector<unsigned char> pixels(header.smemLen, 0x44);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x)
        for (uint32_t c = 0; c < 4; ++c) pixels[((kHeight + y) * kWidth + x) * 4 + c] = patternByte(x, y, c);
    ASSERT_EQ(::pwrite(fd, pixels.data(), pixels.size(), fbimage::kPixelOffset), static_cast<ssize_t>(pixels.size()));
  }
  void TearDown() override {
    ::close(fd);
    ::unlink(path.c_str());
  }
  void show(uint32_t yoffset, uint32_t bitsPerPixel = 32) {
    header.yoffset = yoffset;
    header.bitsPerPixel = bitsPerPixel;
    ASSERT_EQ(fbimage::writeHeader(fd, header), 0);
  }

  std::string path;
  fbimage::Header header;
  int fd = -1;
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
  ScreenCapture capture(path);
  std::ostringstream out;
  out << capture;
  const std::string png = out.str();
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  Decoded image = decode(png);
  ASSERT_EQ(image.width, kWidth);
  ASSERT_EQ(image.height, kHeight);
  int wrong = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const unsigned char* p = &image.rgba[(y * kWidth + x) * 4];
      if (p[0] != patternByte(x, y, 2) || p[1] != patternByte(x, y, 1) || p[2] != patternByte(x, y, 0) ||
          p[3] != patternByte(x, y, 3))
        ++wrong;
    }
  EXPECT_EQ(wrong, 0);

  show(0);
  std::ostringstream first;
  capture.startWrite(first);
  Decoded grey = decode(first.str());
  ASSERT_EQ(grey.rgba.size(), size_t(kWidth) * kHeight * 4);
  EXPECT_EQ(grey.rgba.front(), 0x44);
  EXPECT_EQ(grey.rgba.back(), 0x44);
}

TEST_F(TwoPageFrameBuffer, UncapturableFrameThrowsBeforeWritingAnything) {
  ScreenCapture capture(path);
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

TEST(ScreenCapture, MissingDeviceFailsConstruction) {
  EXPECT_THROW(ScreenCapture("/nonexistent/fb0"), std::runtime_error);
}
