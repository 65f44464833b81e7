#include "apps/common/sharedmemory/sharedmemory.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/unit/error_text.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {
// Segment names are per test and per process so that parallel runs never meet in /dev/shm.
std::string uniqueName(const char* what) { return std::string("SegTest") + what + std::to_string(::getpid()); }

bool segmentExists(const std::string& name) {
  const int fd = ::shm_open(("/" + name).c_str(), O_RDONLY, 0);
  return fd >= 0 && ::close(fd) == 0;
}

std::string errorOf(SharedMemory& memory) {
  return testsupport::errorOf([&] { memory.address(); });
}

// A segment as a foreign process might leave it: raw length and size word chosen freely.
void makeRawSegment(const std::string& name, off_t length, uint32_t sizeWord) {
  int fd = ::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, length), 0);
  if (length >= 4) {
    ASSERT_EQ(::pwrite(fd, &sizeWord, sizeof sizeWord, 0), 4);
  }
  ::close(fd);
}
}  // namespace

TEST(SharedMemory, CreatorAndOpenerShareOnePayloadBehindTheSizeWord) {
  const std::string name = uniqueName("Share");
  {
    SharedMemory owner(name.c_str(), 15);
    owner.create();
    char* ownerPayload = owner.address();
    EXPECT_EQ(owner.address(), ownerPayload) << "a second call must not map again";

    SharedMemory user(name.c_str(), 15);
    user.open();
    char* userPayload = user.address();
    userPayload[0] = 'F';  // at the same offset behind the size word, in the same pages
    EXPECT_EQ(ownerPayload[0], 'F');

    user.close();
    EXPECT_TRUE(segmentExists(name)) << "an object that only opened must leave the segment";
    EXPECT_THAT(errorOf(user), EndsWith("Call open or create before asking for the address"));
  }
  EXPECT_FALSE(segmentExists(name)) << "the creator removes its segment on destruction";

  {
    SharedMemory tool(name.c_str(), 15);
    tool.create();
    tool.disown();
    EXPECT_NE(tool.address(), nullptr);
  }
  EXPECT_TRUE(segmentExists(name)) << "a disowned segment outlives its creator";
  ::shm_unlink(("/" + name).c_str());
}

TEST(SharedMemory, RefusesSegmentsOfTheWrongSizeShortOrMissing) {
  const std::string name = uniqueName("Size");
  SharedMemory wrong(name.c_str(), 431);
  wrong.create();
  ASSERT_NE(wrong.address(), nullptr);

  SharedMemory larger(name.c_str(), 432);
  larger.open();
  const std::string expected = "Memory size missmatch for /" + name + ", requested 432, is 431.";
  EXPECT_THAT(errorOf(larger), EndsWith(expected));
  EXPECT_THAT(errorOf(larger), EndsWith(expected)) << "no payload may be kept after a refusal";

  SharedMemory smaller(name.c_str(), 430);
  smaller.open();
  EXPECT_THAT(errorOf(smaller), HasSubstr("requested 430, is 431."));

  // Short and missing segments are refused instead of crashing the reader or being created.
  const std::string raw = uniqueName("Raw");
  const uint32_t payloadBytes = 200000;  // far past the first page, where a read would raise SIGBUS
  makeRawSegment(raw, 16, payloadBytes);
  SharedMemory shortOne(raw.c_str(), payloadBytes);
  shortOne.open();
  EXPECT_THAT(errorOf(shortOne), HasSubstr("holds 16 bytes"));

  makeRawSegment(raw, 0, 0);
  SharedMemory empty(raw.c_str(), 4);
  empty.open();
  EXPECT_THAT(errorOf(empty), HasSubstr("requested 4, is 0."));
  ::shm_unlink(("/" + raw).c_str());

  SharedMemory missing(raw.c_str(), 8);
  EXPECT_THAT(testsupport::errorOf([&] { missing.open(); }), EndsWith("/" + raw + ": " + std::strerror(ENOENT)));
  EXPECT_FALSE(segmentExists(raw)) << "open must never create";
}
