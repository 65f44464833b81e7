#include "apps/common/introspection/numbertext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

namespace {
std::string printed(const char* format, double value) {
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
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    EXPECT_EQ(out, text);
  }
  // Every special value, ties of the sixth decimal, the edge of the exact path, and random bit patterns.
  std::vector<float> values = {0.0f,
                               -0.0f,
                               0.5e-6f,
                               -0.5e-6f,
                               1.5e-6f,
                               2.5e-6f,
                               0.1f,
                               -2.75f,
                               8.3886075e6f,
                               9.007199e9f,
                               9.0072e9f,
                               3.4028235e38f,
                               -3.4028235e38f,
                               1e-45f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               -std::numeric_limits<float>::quiet_NaN()};
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
