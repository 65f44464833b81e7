// The device document's space figures where the root file system is larger than 4 GiB: on the unit a
// block count times the block size does not fit the 32-bit unsigned long that statvfs reports them in.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

#include "apps/web/service/qorapp.h"
#include "apps/web/service/test/qorapp_fixture.h"
#include "tests/unit/child_process.h"

namespace {

TEST(QorAppSpace, TotalAndAvailableAboveFourGibibytesAreReportedWhole) {
  qortest::TempDir dir;
  qortest::TempDir mountPoint;
  TestPayloads segments;
  QorApp app("board7", "SN99", qortest::pathsIn(dir));
  // In a child whose root is an empty tmpfs of 6 GiB (2 GiB when wrapped to 32 bits), all of it available.
  EXPECT_TRUE(testsupport::passesInChild([&] {
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(::mount("space", mountPoint.path().c_str(), "tmpfs", 0, "size=6g"), 0);
    ASSERT_EQ(::chroot(mountPoint.path().c_str()), 0);
    ASSERT_EQ(::chdir("/"), 0);
    std::string answer = qortest::serve(app, 1, {{"PATH_INFO", "/device/info"}});
    EXPECT_NE(answer.find("\"space_total\": 6442450944,\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"space_available\": 6442450944,\r\n"), std::string::npos) << answer;
  }));
}

}  // namespace
