// Time and size of the simulator's 800 × 480 screen captured as PNG, beside libpng at its default level
// and filters encoding the same mapped page with the same transform, as the service once did.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "apps/web/service/screencapture.h"
#include "tools/unit-simulator/commands.h"

namespace {

const std::string& framePath() {
  static const std::string path = [] {
    std::string file = "/tmp/screencapture-benchmark-fb0-" + std::to_string(::getpid());
    std::string page = "1";
    char* argv[] = {file.data(), const_cast<char*>("--page"), page.data()};
    runFramebuffer(3, argv);
    return file;
  }();
  return path;
}

void showPage(int page) {
  std::string file = framePath();
  std::string number = std::to_string(page);
  char* argv[] = {file.data(), const_cast<char*>("--page"), number.data()};
  runFramebuffer(3, argv);
}

void BM_Capture(benchmark::State& state) {
  showPage(static_cast<int>(state.range(0)));
  ScreenCapture capture(framePath());
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    capture.startWrite(out);
    bytes = out.view().size();
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}

void appendToString(png_structp png, png_bytep data, size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void BM_LibpngDefault(benchmark::State& state) {
  showPage(static_cast<int>(state.range(0)));
  ScreenCapture capture(framePath());
  const uint32_t width = capture.xres();
  const uint32_t height = capture.yres();
  std::vector<png_bytep> rows(height);
  size_t bytes = 0;
  for (auto _ : state) {
    unsigned char* page = capture.currentAddress();
    for (uint32_t i = 0; i < height; ++i) rows[i] = page + size_t(i) * capture.lineLength();
    std::string encoded;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &encoded, appendToString, nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_BGR, nullptr);
    png_destroy_write_struct(&png, &info);
    bytes = encoded.size();
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}

}  // namespace

BENCHMARK(BM_Capture)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngDefault)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::unlink(framePath().c_str());
  return 0;
}
