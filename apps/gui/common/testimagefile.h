#pragma once
// Tests' frame-buffer image in a temporary file, removed with the object: 32 bits per pixel, page p
// filled with the byte value p + 1 for the first filledPages pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "apps/gui/common/fb-image.h"

class TestImageFile {
 public:
  TestImageFile(uint32_t xres, uint32_t yres, uint32_t pages, uint32_t shownPage, uint32_t filledPages) {
    char name[] = "/tmp/fb-image-test-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
    header.xres = header.xresVirtual = xres;
    header.yres = yres;
    header.yresVirtual = yres * pages;
    header.yoffset = yres * shownPage;
    header.bitsPerPixel = 32;
    header.lineLength = xres * 4;
    header.smemLen = xres * yres * 4 * pages;
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

  size_t pageBytes() const { return size_t(header.xres) * header.yres * 4; }
  void writePage(uint32_t page, const std::vector<unsigned char>& pixels) {
    EXPECT_EQ(::pwrite(fd, pixels.data(), pixels.size(), fbimage::kPixelOffset + page * pageBytes()),
              static_cast<ssize_t>(pixels.size()));
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
