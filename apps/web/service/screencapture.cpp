#include "apps/web/service/screencapture.h"

#include <png.h>

#include <csetjmp>
#include <vector>

#include "apps/common/log/log.h"

namespace {

constexpr uint32_t kCapturedBitsPerPixel = 32;  // B, G, R, A

struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

// libpng reports an error by a long jump back to the last armed point; this frame and the
// step's hold nothing that needs destroying, so the jump skips no destructor.
template <typename Step>
bool armed(png_structp png, const Step& step) {
  if (setjmp(png_jmpbuf(png))) return false;
  step();
  return true;
}

void writeData(png_structp png, png_bytep data, size_t length) {
  static_cast<ScreenCapture*>(png_get_io_ptr(png))->write(data, static_cast<unsigned>(length));
}

// The library's own flush would take the I/O pointer for a FILE.
void flushNothing(png_structp) {}

}  // namespace

ScreenCapture::ScreenCapture() : ScreenCapture("/dev/fb0") {}

ScreenCapture::ScreenCapture(const std::string& device) : FbLinux(device) { init(); }

void ScreenCapture::write(unsigned char* data, unsigned length) {
  if (target != nullptr) target->write(reinterpret_cast<const char*>(data), length);
}

void ScreenCapture::startWrite(std::ostream& out) {
  unsigned char* page = currentAddress();
  if (bitsPerPixel() != kCapturedBitsPerPixel) THROW_ERROR("PNG: cannot capture %u bits per pixel", bitsPerPixel());
  std::vector<png_bytep> rows(yres());
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = page + i * lineLength();

  PngWriter writer;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (writer.png == nullptr) THROW_ERROR("PNG: create write struct error");
  writer.info = png_create_info_struct(writer.png);
  if (writer.info == nullptr) THROW_ERROR("PNG: create info error");

  target = &out;
  struct TargetReset {
    std::ostream*& target;
    ~TargetReset() { target = nullptr; }
  } reset{target};
  png_structp png = writer.png;
  png_infop info = writer.info;
  if (!armed(png, [&] { png_set_write_fn(png, this, writeData, flushNothing); })) THROW_ERROR("PNG: init io error");
  if (!armed(png, [&] {
        png_set_IHDR(png, info, xres(), yres(), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      }))
    THROW_ERROR("PNG: write info error");
  png_bytepp rowPointers = rows.data();
  if (!armed(png, [&] {
        png_set_rows(png, info, rowPointers);
        png_write_png(png, info, PNG_TRANSFORM_BGR, nullptr);
      }))
    THROW_ERROR("PNG: write image error");
}

std::ostream& operator<<(std::ostream& out, ScreenCapture& capture) {
  capture.startWrite(out);
  return out;
}
