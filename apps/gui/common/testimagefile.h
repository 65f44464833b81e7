#pragma once
// Tests' frame-buffer image in a temporary file, removed with the object: 32 bits per pixel, rows padded
// by padding bytes, page p filled with the byte value p + 1 for the first filledPages pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "apps/gui/common/fb-image.h"

class TestImageFile {
 public:
  static constexpr unsigned char kPadding = 0xEE;  // a colour that must never show

  TestImageFile(uint32_t xres, uint32_t yres, uint32_t pages, uint32_t shownPage, uint32_t filledPages,
                uint32_t padding = 0) {
    char name[] = "/tmp/fb-image-test-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
    header.xres = header.xresVirtual = xres;
    header.yres = yres;
    header.yresVirtual = yres * pages;
    header.yoffset = yres * shownPage;
    header.bitsPerPixel = 32;
    header.lineLength = xres * 4 + padding;
    header.smemLen = header.lineLength * yres * pages;
    rewrite();
    for (uint32_t page = 0; page < filledPages; ++page)
      writePage(page, std::vector<unsigned char>(pageBytes(), static_cast<unsigned char>(page + 1)));
  }
  ~TestImageFile() {
    ::close(fd);
    ::unlink(path.c_str());
  }
  TestImageFile(const TestImageFile&) = delete;
  TestImageFile& operator=(const TestImageFile&) = delete;

  // The pixels of a page, without the padding.
  size_t pageBytes() const { return size_t(header.xres) * header.yres * 4; }
  // Row by row, each at its line in the page; padding after a row is set to kPadding.
  void writePage(uint32_t page, const std::vector<unsigned char>& pixels) {
    const size_t row = size_t(header.xres) * 4;
    std::vector<unsigned char> line(header.lineLength, kPadding);
    for (uint32_t y = 0; y < header.yres; ++y) {
      std::copy_n(pixels.data() + y * row, row, line.data());
      const off_t at = fbimage::kPixelOffset + off_t(page * header.yres + y) * header.lineLength;
      EXPECT_EQ(::pwrite(fd, line.data(), line.size(), at), static_cast<ssize_t>(line.size()));
    }
  }
  void rewrite() { EXPECT_EQ(fbimage::writeHeader(fd, header), 0); }
  fbimage::Header read() const {
    fbimage::Header current;
    EXPECT_EQ(fbimage::readHeader(fd, current), 0);
    return current;
  }

  std::string path;
  fbimage::Header header;
  int fd = -1;
};
