// framebuffer PATH [--page N]: a frame-buffer image of the unit's 800 × 480 display with two pages,
// each with a test pattern of its own, showing page N (1 or 2, default 1).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/gui/common/fb-image.h"
#include "tools/unit-simulator/commands.h"

namespace {

constexpr uint32_t kWidth = 800;
constexpr uint32_t kHeight = 480;
constexpr uint32_t kPages = 2;
constexpr uint32_t kBytesPerPixel = 4;

struct Colour {
  uint8_t r, g, b;
};

// Colour bars over a grey ramp, framed by a white border.
Colour firstPage(uint32_t x, uint32_t y) {
  constexpr Colour kBars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                              {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  if (x < 4 || y < 4 || x >= kWidth - 4 || y >= kHeight - 4) return {255, 255, 255};
  if (y < kHeight * 2 / 3) return kBars[x * 8 / kWidth];
  auto level = static_cast<uint8_t>(x * 255 / (kWidth - 1));
  return {level, level, level};
}

// A checkerboard crossed by a diagonal band.
Colour secondPage(uint32_t x, uint32_t y) {
  if (x * kHeight / kWidth + 20 > y && x * kHeight / kWidth < y + 20) return {255, 255, 255};
  bool dark = ((x / 40) + (y / 40)) % 2 == 0;
  return dark ? Colour{20, 40, 120} : Colour{240, 140, 20};
}

void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

}  // namespace

int runFramebuffer(int argc, char** argv) {
  std::string path;
  uint32_t shown = 1;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--page") == 0 && i + 1 < argc) {
      shown = static_cast<uint32_t>(std::stoul(argv[++i]));
    } else if (path.empty() && argv[i][0] != '-') {
      path = argv[i];
    } else {
      throw std::runtime_error(std::string("unexpected argument ") + argv[i]);
    }
  }
  if (path.empty() || shown < 1 || shown > kPages) throw std::runtime_error("usage: framebuffer PATH [--page 1|2]");

  fbimage::Header header;
  header.xres = header.xresVirtual = kWidth;
  header.yres = kHeight;
  header.yresVirtual = kHeight * kPages;
  header.yoffset = kHeight * (shown - 1);
  header.bitsPerPixel = 8 * kBytesPerPixel;
  header.lineLength = kWidth * kBytesPerPixel;
  header.smemLen = header.lineLength * header.yresVirtual;

  std::vector<uint8_t> pixels(header.smemLen);
  for (uint32_t page = 0; page < kPages; ++page)
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        Colour c = page == 0 ? firstPage(x, y) : secondPage(x, y);
        uint8_t* p = &pixels[((page * kHeight + y) * kWidth + x) * kBytesPerPixel];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = 255;
      }

  // Written in place and never shortened: a reader may have the file mapped, and pages cut off
  // under its mapping would kill it.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fail("open " + path);
  struct stat info;
  off_t size = fbimage::kPixelOffset + static_cast<off_t>(pixels.size());
  bool ok = ::fstat(fd, &info) == 0 && (info.st_size >= size || ::ftruncate(fd, size) == 0) &&
            ::pwrite(fd, pixels.data(), pixels.size(), fbimage::kPixelOffset) == static_cast<ssize_t>(pixels.size()) &&
            fbimage::writeHeader(fd, header) == 0;
  int error = errno;
  ::close(fd);
  errno = error;
  if (!ok) fail("write " + path);
  return 0;
}
