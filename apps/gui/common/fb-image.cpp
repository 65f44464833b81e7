#include "apps/gui/common/fb-image.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

namespace fbimage {
namespace {

constexpr unsigned char kMagic[4] = {'F', 'B', 'I', 'M'};
constexpr size_t kFieldCount = 11;  // magic, version and the nine geometry words

uint32_t load(const unsigned char* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void store(unsigned char* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

int readFully(int fd, unsigned char* data, size_t length) {
  ssize_t got = ::pread(fd, data, length, 0);
  if (got < 0) return -1;
  if (static_cast<size_t>(got) != length) {
    errno = EINVAL;
    return -1;
  }
  return 0;
}

// Both ioctls answer from the one header, each with the fields a device fills in.
int readScreenInfo(int fd, fb_var_screeninfo* var, fb_fix_screeninfo* fix) {
  Header h;
  if (readHeader(fd, h) != 0) return -1;
  if (var != nullptr) {
    *var = fb_var_screeninfo{};
    var->xres = h.xres;
    var->yres = h.yres;
    var->xres_virtual = h.xresVirtual;
    var->yres_virtual = h.yresVirtual;
    var->xoffset = h.xoffset;
    var->yoffset = h.yoffset;
    var->bits_per_pixel = h.bitsPerPixel;
  }
  if (fix != nullptr) {
    *fix = fb_fix_screeninfo{};
    fix->line_length = h.lineLength;
    fix->smem_len = h.smemLen;
  }
  return 0;
}

}  // namespace

int readHeader(int fd, Header& header) {
  unsigned char bytes[kFieldCount * 4];
  if (readFully(fd, bytes, sizeof bytes) != 0) return -1;
  if (std::memcmp(bytes, kMagic, 4) != 0 || load(bytes + 4) != kVersion) {
    errno = EINVAL;
    return -1;
  }
  uint32_t* fields[] = {&header.xres,         &header.yres,       &header.xresVirtual,
                        &header.yresVirtual,  &header.xoffset,    &header.yoffset,
                        &header.bitsPerPixel, &header.lineLength, &header.smemLen};
  for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = load(bytes + 8 + 4 * i);
  return 0;
}

int writeHeader(int fd, const Header& header) {
  unsigned char bytes[kPixelOffset] = {};
  std::memcpy(bytes, kMagic, 4);
  store(bytes + 4, kVersion);
  const uint32_t fields[] = {header.xres,         header.yres,       header.xresVirtual,
                             header.yresVirtual,  header.xoffset,    header.yoffset,
                             header.bitsPerPixel, header.lineLength, header.smemLen};
  for (size_t i = 0; i < std::size(fields); ++i) store(bytes + 8 + 4 * i, fields[i]);
  ssize_t written = ::pwrite(fd, bytes, sizeof bytes, 0);
  if (written < 0) return -1;
  if (written != static_cast<ssize_t>(sizeof bytes)) {
    errno = EIO;
    return -1;
  }
  return 0;
}

int getVarScreenInfo(int fd, fb_var_screeninfo& var) { return readScreenInfo(fd, &var, nullptr); }

int getFixScreenInfo(int fd, fb_fix_screeninfo& fix) { return readScreenInfo(fd, nullptr, &fix); }

int putVarScreenInfo(int fd, const fb_var_screeninfo& var) {
  Header header;
  if (readHeader(fd, header) != 0) return -1;
  if (uint64_t(var.yres_virtual) * header.lineLength > header.smemLen) {
    errno = EINVAL;
    return -1;
  }
  header.xresVirtual = var.xres_virtual;
  header.yresVirtual = var.yres_virtual;
  header.xoffset = var.xoffset;
  header.yoffset = var.yoffset;
  return writeHeader(fd, header);
}

int panDisplay(int fd, const fb_var_screeninfo& var) {
  Header header;
  if (readHeader(fd, header) != 0) return -1;
  if (uint64_t(var.yoffset) + header.yres > header.yresVirtual) {
    errno = EINVAL;
    return -1;
  }
  header.xoffset = var.xoffset;
  header.yoffset = var.yoffset;
  return writeHeader(fd, header);
}

}  // namespace fbimage
