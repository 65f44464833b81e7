#include "apps/web/service/screencapture.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "apps/common/log/log.h"

namespace {

constexpr uint32_t kCapturedBitsPerPixel = 32;  // B, G, R, A
constexpr size_t kBytesPerPixel = 4;
// Level 2 of the deflate library: several times faster than zlib's default on the unit's screens and
// no larger; level 1 is slower on long runs and grows the flat pictures of the display by a tenth.
constexpr int kDeflateLevel = 2;

constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kFilterSub = 1;
constexpr unsigned char kFilterUp = 2;
constexpr unsigned char kColourTypeRgb = 2;
constexpr unsigned char kColourTypeRgba = 6;

void putBigEndian(unsigned char* to, uint32_t value) {
  to[0] = static_cast<unsigned char>(value >> 24);
  to[1] = static_cast<unsigned char>(value >> 16);
  to[2] = static_cast<unsigned char>(value >> 8);
  to[3] = static_cast<unsigned char>(value);
}

void writeChunk(std::ostream& out, const char type[4], const unsigned char* data, size_t length) {
  if (length > INT32_MAX) THROW_ERROR("PNG: chunk of %zu bytes", length);
  unsigned char head[8];
  putBigEndian(head, static_cast<uint32_t>(length));
  std::memcpy(head + 4, type, 4);
  uint32_t crc = libdeflate_crc32(0, head + 4, 4);
  crc = libdeflate_crc32(crc, data, length);
  unsigned char tail[4];
  putBigEndian(tail, crc);
  out.write(reinterpret_cast<const char*>(head), sizeof head);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  out.write(reinterpret_cast<const char*>(tail), sizeof tail);
}

unsigned magnitude(unsigned char difference) { return difference < 128 ? difference : 256u - difference; }

// Rows of the frame as PNG data: a filter byte, then the pixels as R, G, B (and A unless Channels is 3),
// each byte given as its difference to the byte to its left or the one above, whichever leaves the
// smaller differences (the usual estimate of what compresses best). Rows of flat colour become runs of
// zeros.
template <size_t Channels>
class RowFilter {
 public:
  explicit RowFilter(uint32_t width)
      : row(size_t(width) * Channels), above(row.size(), 0), up(row.size()), sub(row.size()) {}

  // Writes the filtered row, 1 + width × Channels bytes, at to.
  void filter(const unsigned char* bgra, unsigned char* to) {
    const size_t bytes = row.size();
    for (size_t x = 0, i = 0; x < bytes; x += Channels, i += kBytesPerPixel) {
      row[x] = bgra[i + 2];
      row[x + 1] = bgra[i + 1];
      row[x + 2] = bgra[i];
      if constexpr (Channels == 4) row[x + 3] = bgra[i + 3];
    }
    size_t upCost = 0;
    size_t subCost = 0;
    for (size_t x = 0; x < Channels; ++x) {
      up[x] = static_cast<unsigned char>(row[x] - above[x]);
      sub[x] = row[x];
      upCost += magnitude(up[x]);
      subCost += magnitude(sub[x]);
    }
    for (size_t x = Channels; x < bytes; ++x) {
      up[x] = static_cast<unsigned char>(row[x] - above[x]);
      sub[x] = static_cast<unsigned char>(row[x] - row[x - Channels]);
      upCost += magnitude(up[x]);
      subCost += magnitude(sub[x]);
    }
    const bool useUp = upCost <= subCost;
    to[0] = useUp ? kFilterUp : kFilterSub;
    std::memcpy(to + 1, (useUp ? up : sub).data(), bytes);
    row.swap(above);
  }

 private:
  std::vector<unsigned char> row;
  std::vector<unsigned char> above;  // the previous row, zeros before the first
  std::vector<unsigned char> up;
  std::vector<unsigned char> sub;
};

// Filters every row of the page into to, (1 + width × Channels) × height bytes.
template <size_t Channels>
void filterPage(const unsigned char* page, uint32_t width, uint32_t height, size_t lineLength, unsigned char* to) {
  RowFilter<Channels> rows(width);
  for (uint32_t y = 0; y < height; ++y)
    rows.filter(page + size_t(y) * lineLength, to + size_t(y) * (1 + width * Channels));
}

// A display's pixels are usually all opaque; the picture then leaves the alpha channel out, a quarter
// less to compress, and still decodes to the same pixels.
bool opaque(const unsigned char* page, uint32_t width, uint32_t height, size_t lineLength) {
  unsigned char alpha = 0xff;
  for (uint32_t y = 0; y < height; ++y) {
    const unsigned char* line = page + size_t(y) * lineLength;
    for (size_t i = 3; i < size_t(width) * kBytesPerPixel; i += kBytesPerPixel) alpha &= line[i];
  }
  return alpha == 0xff;
}

struct Compressor {
  libdeflate_compressor* state = libdeflate_alloc_compressor(kDeflateLevel);
  ~Compressor() { libdeflate_free_compressor(state); }
};

}  // namespace

ScreenCapture::ScreenCapture() : ScreenCapture("/dev/fb0") {}

ScreenCapture::ScreenCapture(const std::string& device) : FbLinux(device) { init(); }

void ScreenCapture::startWrite(std::ostream& out) {
  const unsigned char* page = currentAddress();
  if (bitsPerPixel() != kCapturedBitsPerPixel) THROW_ERROR("PNG: cannot capture %u bits per pixel", bitsPerPixel());
  const uint32_t width = xres();
  const uint32_t height = yres();
  if (width == 0 || height == 0) THROW_ERROR("PNG: cannot capture an empty frame");
  const bool leaveAlphaOut = opaque(page, width, height, lineLength());
  const size_t channels = leaveAlphaOut ? 3 : 4;
  const uint64_t filteredSize = (uint64_t{width} * channels + 1) * height;
  if (filteredSize > SIZE_MAX / 2) THROW_ERROR("PNG: frame of %ux%u is too large", width, height);

  // The whole filtered image, then one deflate stream of it: the library compresses whole buffers only.
  // Neither buffer outlives the capture, and the output's pages are touched only as far as it is used.
  const auto filteredBytes = static_cast<size_t>(filteredSize);
  std::unique_ptr<unsigned char[]> filtered(new unsigned char[filteredBytes]);
  if (leaveAlphaOut)
    filterPage<3>(page, width, height, lineLength(), filtered.get());
  else
    filterPage<4>(page, width, height, lineLength(), filtered.get());
  Compressor compressor;
  if (compressor.state == nullptr) THROW_ERROR("PNG: no memory for the compressor");
  const size_t bound = libdeflate_zlib_compress_bound(compressor.state, filteredBytes);
  std::unique_ptr<unsigned char[]> compressed(new unsigned char[bound]);
  const size_t compressedSize =
      libdeflate_zlib_compress(compressor.state, filtered.get(), filteredBytes, compressed.get(), bound);
  if (compressedSize == 0) THROW_ERROR("PNG: compression failed");

  unsigned char header[13] = {};
  putBigEndian(header, width);
  putBigEndian(header + 4, height);
  header[8] = 8;  // bits per channel; compression, filter method and interlace stay 0
  header[9] = leaveAlphaOut ? kColourTypeRgb : kColourTypeRgba;
  out.write(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
  writeChunk(out, "IHDR", header, sizeof header);
  writeChunk(out, "IDAT", compressed.get(), compressedSize);
  writeChunk(out, "IEND", nullptr, 0);
}

std::ostream& operator<<(std::ostream& out, ScreenCapture& capture) {
  capture.startWrite(out);
  return out;
}
