#pragma once
// Frame-buffer image files: a regular file that stands in for a frame-buffer device. A 4096-byte
// little-endian header (magic "FBIM", version 1, the screen geometry) is followed by the pixel memory.
#include <linux/fb.h>
#include <sys/types.h>

#include <cstdint>

namespace fbimage {

constexpr uint32_t kVersion = 1;
constexpr off_t kPixelOffset = 4096;

struct Header {
  uint32_t xres = 0;
  uint32_t yres = 0;
  uint32_t xresVirtual = 0;
  uint32_t yresVirtual = 0;
  uint32_t xoffset = 0;
  uint32_t yoffset = 0;
  uint32_t bitsPerPixel = 0;
  uint32_t lineLength = 0;
  uint32_t smemLen = 0;
};

// Each answers 0, or -1 with errno set (EINVAL for a header that is not an image header), as an ioctl does.
int readHeader(int fd, Header& header);
int writeHeader(int fd, const Header& header);

int getVarScreenInfo(int fd, fb_var_screeninfo& var);
int getFixScreenInfo(int fd, fb_fix_screeninfo& fix);
// Takes the virtual size and the pan offsets; refuses a virtual screen larger than the pixel memory.
int putVarScreenInfo(int fd, const fb_var_screeninfo& var);
int panDisplay(int fd, const fb_var_screeninfo& var);

}  // namespace fbimage
