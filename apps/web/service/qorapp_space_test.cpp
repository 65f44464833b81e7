// The device document's space figures where the root file system is larger than 4 GiB: on the unit a
// block count times the block size does not fit the 32-bit unsigned long that statvfs reports them in.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "apps/web/service/qorapp.h"
#include "apps/web/service/test/qorapp_fixture.h"
#include "tests/unit/child_process.h"

namespace {

// A child process whose root is an empty tmpfs of the given size; the body sees it as "/".
bool passesOnRootOfSize(const std::string& size, const std::function<void()>& body) {
  qortest::TempDir mountPoint;
  return testsupport::passesInChild([&] {
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(::mount("space", mountPoint.path().c_str(), "tmpfs", 0, ("size=" + size).c_str()), 0);
    ASSERT_EQ(::chroot(mountPoint.path().c_str()), 0);
    ASSERT_EQ(::chdir("/"), 0);
    body();
  });
}

std::string deviceInfo(QorApp& app) {
  return qortest::serve(app, 1, {{"PATH_INFO", "/device/info"}, {"REQUEST_METHOD", "GET"}});
}

TEST(QorAppSpace, TotalAndAvailableAboveFourGibibytesAreReportedWhole) {
  qortest::TempDir dir;
  qortest::Segments segments;
  QorApp app("board7", "SN99", qortest::pathsIn(dir));

  // 6 GiB: wraps to 2 GiB in 32 bits. An empty tmpfs has all of it available.
  EXPECT_TRUE(passesOnRootOfSize("6g", [&] {
    std::string answer = deviceInfo(app);
    EXPECT_NE(answer.find("\"space_total\": 6442450944,\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"space_available\": 6442450944,\r\n"), std::string::npos) << answer;
  }));
  // Exactly 4 GiB, the first size that a 32-bit product turns into 0.
  EXPECT_TRUE(passesOnRootOfSize("4g", [&] {
    std::string answer = deviceInfo(app);
    EXPECT_NE(answer.find("\"space_total\": 4294967296,\r\n"), std::string::npos) << answer;
  }));
}

}  // namespace
