#include <gtest/gtest.h>

#include "tests/unit/kernel_log_capture.h"

int main(int argc, char** argv) {
  testsupport::isolateKernelLog();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
