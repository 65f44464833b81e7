#include "apps/gui/common/fb-linux.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "apps/common/log/log.h"
#include "apps/gui/common/fb-image.h"

namespace {
unsigned char* const kUnmapped = reinterpret_cast<unsigned char*>(MAP_FAILED);
}

FbLinux::FbLinux(const std::string& device) : device(device), readOnly(true), base(kUnmapped) {}

FbLinux::FbLinux(const std::string& device, int bufferCount)
    : device(device), bufferCount(bufferCount), readOnly(false), base(kUnmapped) {}

FbLinux::~FbLinux() {
  if (isMapped()) ::munmap(base, mapLength);
  if (fd >= 0) ::close(fd);
}

void FbLinux::init() { mapFramebuffer(); }

bool FbLinux::isMapped() const { return base != kUnmapped; }

int FbLinux::getVar() {
  return imageFile ? fbimage::getVarScreenInfo(fd, var) : ::ioctl(fd, FBIOGET_VSCREENINFO, &var);
}

int FbLinux::putVar() {
  return imageFile ? fbimage::putVarScreenInfo(fd, var) : ::ioctl(fd, FBIOPUT_VSCREENINFO, &var);
}

int FbLinux::getFix() {
  return imageFile ? fbimage::getFixScreenInfo(fd, fix) : ::ioctl(fd, FBIOGET_FSCREENINFO, &fix);
}

int FbLinux::pan() { return imageFile ? fbimage::panDisplay(fd, var) : ::ioctl(fd, FBIOPAN_DISPLAY, &var); }

void FbLinux::mapFramebuffer() {
  // The read-only form never needs to write the device, so it cannot scribble over the display.
  fd = ::open(device.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) THROW_ERROR_NUMBER("frambuffer open");
  struct stat info;
  if (::fstat(fd, &info) != 0) THROW_ERROR_NUMBER("frambuffer open");
  imageFile = S_ISREG(info.st_mode);

  if (getVar() != 0) THROW_ERROR_NUMBER("screen info");
  if (readOnly) {
    bufferCount = var.yres == 0 ? 0 : static_cast<int>(var.yres_virtual / var.yres);
  } else {
    waitVSync();
    var.yres_virtual = static_cast<uint32_t>(bufferCount) * var.yres;
    if (putVar() != 0 || getVar() != 0) THROW_ERROR_NUMBER("screen info");
  }
  if (getFix() != 0) THROW_ERROR_NUMBER("screen info");
  if (!readOnly) {
    var.yoffset = 0;
    if (pan() != 0 && errno != EINTR) THROW_ERROR_NUMBER("pan");
  }
  logGeometry();

  mapLength = fix.smem_len;
  off_t mapOffset = imageFile ? fbimage::kPixelOffset : 0;
  if (imageFile && info.st_size - mapOffset < static_cast<off_t>(mapLength)) {
    // Touching a mapped page beyond the end of a file kills the process with SIGBUS.
    errno = EINVAL;
    THROW_ERROR_NUMBER("map framebuffer");
  }
  int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
  void* mapped = ::mmap(nullptr, mapLength, protection, MAP_SHARED, fd, mapOffset);
  if (mapped == MAP_FAILED) THROW_ERROR_NUMBER("map framebuffer");
  base = static_cast<unsigned char*>(mapped);

  if (!readOnly) clear();
}

void FbLinux::logGeometry() const {
  LOG(LogLight, "Framebuffer is %ix%ix%i, virtual is %ix%i", var.xres, var.yres, var.bits_per_pixel, var.xres_virtual,
      var.yres_virtual);
  unsigned long pixelClock = var.pixclock == 0 ? 0UL : 1000000000UL / var.pixclock;
  LOG(LogLight, "  Pixel Clock: %lukHz, Acceleration: %i, Capabilities: %08x", pixelClock, fix.accel, fix.capabilities);
  LOG(LogLight, "  PanX: %i, PanY: %i, WrapY: %i", fix.xpanstep, fix.ypanstep, fix.ywrapstep);
  LOG(LogLight, "  Line: %i, MMIO start: 0x%08lx, len: 0x%08x, SMEM start: 0x%08lx, len: 0x%08x", fix.line_length,
      fix.mmio_start, fix.mmio_len, fix.smem_start, fix.smem_len);
}

size_t FbLinux::pageSize() const { return size_t(lineLength()) * var.yres; }

unsigned char* FbLinux::pageAddress(int64_t page) const {
  // Geometry read from the device at run time must never lead outside the mapping.
  if (uint64_t(lineLength()) < uint64_t(var.xres) * bytesPerPixel())
    THROW_ERROR("Line length %u is shorter than a row of %u pixels", lineLength(), var.xres);
  uint64_t size = uint64_t(lineLength()) * var.yres;
  if (!isMapped() || page < 0 || (uint64_t(page) + 1) * size > mapLength)
    THROW_ERROR("Page %lli lies outside the frame-buffer memory", static_cast<long long>(page));
  return base + uint64_t(page) * size;
}

unsigned char* FbLinux::currentAddress() {
  if (getVar() != 0 || getFix() != 0) THROW_ERROR_NUMBER("screen info");
  return pageAddress(var.yres == 0 ? 0 : var.yoffset / var.yres);
}

unsigned char* FbLinux::backbufferAddress() const { return pageAddress(currentBuffer); }

unsigned char* FbLinux::frontbufferAddress() const {
  return pageAddress(currentBuffer == 0 ? bufferCount - 1 : currentBuffer - 1);
}

void FbLinux::clear() {
  if (readOnly) THROW_ERROR("Not allowed in read only mode");
  std::memset(backbufferAddress(), 0, pageSize());
}

void FbLinux::show() {
  if (readOnly) THROW_ERROR("Not allowed in read only mode");
  var.yoffset = var.yres * static_cast<uint32_t>(currentBuffer);
  if (pan() != 0 && errno != EINTR) THROW_ERROR_NUMBER("pan");
  if (++currentBuffer >= bufferCount) currentBuffer = 0;
}

void FbLinux::waitVSync() {
  if (imageFile) return;  // an image file has no display to wait for
  uint32_t screen = 0;
  if (::ioctl(fd, FBIO_WAITFORVSYNC, &screen) != 0 && errno != EINTR) THROW_ERROR_NUMBER("vsync");
}
