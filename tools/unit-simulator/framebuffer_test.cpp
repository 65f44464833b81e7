#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/gui/common/fb-linux.h"
#include "tools/unit-simulator/commands.h"

namespace {

int framebuffer(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return runFramebuffer(static_cast<int>(argv.size()), argv.data());
}

// B, G, R, A of one pixel of a page.
std::vector<int> pixel(const unsigned char* page, uint32_t x, uint32_t y) {
  const unsigned char* p = page + (y * 800 + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(SimulatorFramebuffer, TwoPatternedPagesShowingTheChosenOne) {
  const std::string path = std::filesystem::temp_directory_path() / ("fb0-test-" + std::to_string(::getpid()));
  ASSERT_EQ(framebuffer({path, "--page", "2"}), 0);
  {
    FbLinux fb(path);
    fb.init();
    EXPECT_EQ(fb.xres(), 800u);
    EXPECT_EQ(fb.yres(), 480u);
    EXPECT_EQ(fb.pageCount(), 2);
    const unsigned char* second = fb.currentAddress();
    const unsigned char* first = second - fb.pageSize();
    EXPECT_EQ(pixel(first, 0, 0), (std::vector<int>{255, 255, 255, 255})) << "border";
    EXPECT_EQ(pixel(first, 150, 100), (std::vector<int>{0, 255, 255, 255})) << "yellow bar";
    EXPECT_EQ(pixel(first, 400, 400), (std::vector<int>{127, 127, 127, 255})) << "grey ramp";
    EXPECT_EQ(pixel(second, 0, 100), (std::vector<int>{120, 40, 20, 255})) << "dark square";
    EXPECT_EQ(pixel(second, 40, 100), (std::vector<int>{20, 140, 240, 255})) << "light square";

    // Rewriting a file that is mapped keeps it whole: the mapping stays readable.
    ASSERT_EQ(framebuffer({path}), 0);
    EXPECT_EQ(fb.currentAddress(), first);
    EXPECT_EQ(pixel(second, 0, 100), (std::vector<int>{120, 40, 20, 255}));
  }
  EXPECT_THROW(framebuffer({path, "--page", "3"}), std::runtime_error);
  EXPECT_THROW(framebuffer({}), std::runtime_error);
  std::filesystem::remove(path);
}
