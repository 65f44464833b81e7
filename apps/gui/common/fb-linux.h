#pragma once
// A Linux frame buffer mapped into the process: read-only for taking pictures of the display, or
// writable with page flipping for a program that draws. A regular file holding a frame-buffer image
// (fb-image.h) is accepted in place of the device.
#include <linux/fb.h>

#include <cstddef>
#include <cstdint>
#include <string>

class FbLinux {
 public:
  // Read-only form: the page count follows from the virtual screen.
  explicit FbLinux(const std::string& device);
  // Writable form with that many pages.
  FbLinux(const std::string& device, int bufferCount);
  ~FbLinux();
  FbLinux(const FbLinux&) = delete;
  FbLinux& operator=(const FbLinux&) = delete;

  void init();
  void mapFramebuffer();

  // Re-reads the screen information; the start of the page on display now. Throws when the page, at
  // the device's line length, does not lie whole in the mapped memory.
  unsigned char* currentAddress();
  unsigned char* backbufferAddress() const;
  unsigned char* frontbufferAddress() const;
  void clear();
  void show();
  void waitVSync();

  uint32_t xres() const { return var.xres; }
  uint32_t yres() const { return var.yres; }
  uint32_t bitsPerPixel() const { return var.bits_per_pixel; }
  uint32_t bytesPerPixel() const { return (var.bits_per_pixel + 7) / 8; }
  // Bytes from one row to the next: drivers often pad rows to an aligned pitch. A device that tells
  // no line length has rows of the bare pixels.
  uint32_t lineLength() const { return fix.line_length != 0 ? fix.line_length : var.xres * bytesPerPixel(); }
  size_t pageSize() const;
  int pageCount() const { return bufferCount; }

 private:
  bool isMapped() const;
  unsigned char* pageAddress(int64_t page) const;
  int getVar();
  int putVar();
  int getFix();
  int pan();
  void logGeometry() const;

  std::string device;
  int fd = -1;
  int bufferCount = 0;
  int currentBuffer = 0;
  bool readOnly;
  fb_var_screeninfo var{};
  fb_fix_screeninfo fix{};
  unsigned char* base;
  bool imageFile = false;
  size_t mapLength = 0;
};
