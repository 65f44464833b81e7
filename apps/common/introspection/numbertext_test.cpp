#include "apps/common/introspection/numbertext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

namespace {
template <typename T>
std::string printed(const char* format, T value) {
  char text[80];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
}  // namespace

TEST(NumberText, DigitsAreThoseOfPrintf) {
  std::string out;
  for (int32_t value : {0, 1, -1, 42, 2147483647, -2147483647 - 1}) {
    out.clear();
    appendDecimal(out, value);
    EXPECT_EQ(out, printed("%d", static_cast<int>(value)));
  }
  // Every special value, ties of the sixth decimal, the edge of the exact path, and random bit patterns.
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> values = {0.0f,           -0.0f,  0.5e-6f,      -0.5e-6f,    1.5e-6f,   2.5e-6f,
                               0.1f,           -2.75f, 8.3886075e6f, 9.007199e9f, 9.0072e9f, 3.4028235e38f,
                               -3.4028235e38f, 1e-45f, kInf,         -kInf,       kNan,      -kNan};
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(static_cast<float>(static_cast<int32_t>(bits) % 2000000) / 64.0f);
  }
  for (float value : values) {
    out.clear();
    appendFixed(out, value);
    ASSERT_EQ(out, printed("%f", static_cast<double>(value))) << printed("%a", static_cast<double>(value));
  }
}
