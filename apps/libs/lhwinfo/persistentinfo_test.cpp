#include "apps/libs/lhwinfo/persistentinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace {

// A sparse scratch file standing in for a device; the record sits at a deliberately unaligned offset.
class PersistentInfoTest : public ::testing::Test {
 protected:
  static constexpr unsigned int kOffset = 0x1068;
  static constexpr unsigned int kSize = 64;

  void SetUp() override {
    char name[] = "/tmp/persistentinfo_test_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0x3000), 0);
    close(fd);
    path = name;
  }
  void TearDown() override { unlink(path.c_str()); }

  std::string fileBytes(unsigned int from, unsigned int count) {
    std::string bytes(count, '\0');
    std::ifstream(path, std::ios::binary).seekg(kOffset + from).read(bytes.data(), count);
    return bytes;
  }
  static std::string word(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
  void writeFile(unsigned int from, const std::string& bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(kOffset + from);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string path;
};

TEST_F(PersistentInfoTest, BitFieldsFillTheWordFromTheTopAndKeepTheirNeighbours) {
  PersistentInfo info(path.c_str(), kOffset, 4);
  info.addInfo(std::make_unique<PersistentInfo::Bits>("top", 0, 1));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("middle", PersistentInfo::Hidden, 26));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("flag", 0, 1));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("counter", 0, 4));
  EXPECT_EQ(info.size(), 4u);

  writeFile(0, std::string("\x00\x00\x00\x00", 4));
  EXPECT_TRUE((info.set<PersistentInfo::Base, const char*>("top", "1", false)));
  EXPECT_EQ(fileBytes(0, 4), word(0x80000000u));
  EXPECT_TRUE((info.set<PersistentInfo::Base, const char*>("counter", "0x", false)));
  EXPECT_TRUE((info.set<PersistentInfo::Base, const char*>("counter", "31", false)));  // masked to 4 bits
  EXPECT_EQ(fileBytes(0, 4), word(0x8000000Fu));
  EXPECT_TRUE(info.set<PersistentInfo::Int>("flag", 1u, false));
  EXPECT_EQ(fileBytes(0, 4), word(0x8000001Fu));
  EXPECT_TRUE(info.set<PersistentInfo::Int>("middle", 0x3FFFFFFu, false));
  EXPECT_EQ(fileBytes(0, 4), word(0xFFFFFFFFu));
  EXPECT_TRUE(info.set<PersistentInfo::Int>("middle", 1u, false));
  EXPECT_EQ(fileBytes(0, 4), word(0x8000003Fu));

  std::string text;
  EXPECT_TRUE(info.get<PersistentInfo::Base>("counter", text));
  EXPECT_EQ(text, "15");
  unsigned int value = 0;
  EXPECT_TRUE(info.get<PersistentInfo::Int>("middle", value));
  EXPECT_EQ(value, 1u);

  // A bit field crossing into the next word, or a field past the record's end, is refused.
  PersistentInfo crossing(path.c_str(), kOffset, 8);
  crossing.addInfo(std::make_unique<PersistentInfo::Bits>("first", 0, 30));
  EXPECT_THROW(crossing.addInfo(std::make_unique<PersistentInfo::Bits>("second", 0, 4)), std::runtime_error);
  crossing.addInfo(std::make_unique<PersistentInfo::Int>("b", 0));
  EXPECT_THROW(crossing.addInfo(std::make_unique<PersistentInfo::String>("c", 0, 2)), std::runtime_error);
}

TEST_F(PersistentInfoTest, TextIsConvertedLikeAThirtyTwoBitStoul) {
  PersistentInfo info(path.c_str(), kOffset, kSize);
  info.addInfo(std::make_unique<PersistentInfo::Int>("n", 0));
  auto setText = [&](const char* text) { return info.set<PersistentInfo::Base, const char*>("n", text, false); };
  unsigned int value = 0;
  EXPECT_TRUE(setText("4294967295"));
  EXPECT_THROW(setText(""), std::invalid_argument);
  EXPECT_THROW(setText("4294967296"), std::out_of_range);  // fits a 64-bit long, not the field
  info.get<PersistentInfo::Int>("n", value);
  EXPECT_EQ(value, 4294967295u);  // failed conversions leave the field alone
}

TEST_F(PersistentInfoTest, StringsAreBoundedByTheirField) {
  PersistentInfo info(path.c_str(), kOffset, kSize);
  info.addInfo(std::make_unique<PersistentInfo::String>("s", 0, 30));
  info.addInfo(std::make_unique<PersistentInfo::String>("next", 0, 30));
  auto setText = [&](const char* name, const std::string& text) {
    return info.set<PersistentInfo::Base, const char*>(name, text.c_str(), false);
  };
  std::string text;

  EXPECT_TRUE(setText("next", "after"));
  EXPECT_TRUE(setText("s", std::string(28, 'a')));
  EXPECT_THROW(setText("s", std::string(29, 'b')), std::runtime_error);
  info.get<PersistentInfo::Base>("s", text);
  EXPECT_EQ(text, std::string(28, 'a'));

  // A shorter text keeps the old bytes behind its terminator.
  EXPECT_TRUE(setText("s", "xy"));
  EXPECT_EQ(fileBytes(0, 4), std::string("xy\0a", 4));

  // Without a terminator the text ends at the field's end, not in the next field.
  writeFile(0, std::string(30, 'z'));
  info.get<PersistentInfo::Base>("s", text);
  EXPECT_EQ(text, std::string(30, 'z'));
  EXPECT_FALSE(info.get<PersistentInfo::Base>("missing", text));
}

TEST_F(PersistentInfoTest, ChecksumIsCrc32Mpeg2OverTheBytesAfterTheHeader) {
  PersistentInfo info(path.c_str(), kOffset, kSize);
  writeFile(0, "HEADERHEADER123456789");
  EXPECT_EQ(info.checksum(21), 0x0376E6E7u);  // the algorithm's published check value
  EXPECT_EQ(info.checksum(12), 0xFFFFFFFFu);
  EXPECT_EQ(info.checksum(0), 0xFFFFFFFFu);

  // Length 13 covers byte 12 only; the header never counts.
  uint32_t one = info.checksum(13);
  writeFile(0, "headerheader");
  writeFile(13, "x");
  EXPECT_EQ(info.checksum(13), one);
  writeFile(12, "0");
  EXPECT_NE(info.checksum(13), one);

  EXPECT_NO_THROW(info.checksum(kSize));  // the whole record
  EXPECT_THROW(info.checksum(kSize + 1), std::runtime_error);
}

TEST_F(PersistentInfoTest, ClearingZeroesOnlyWhatEachFieldOwns) {
  PersistentInfo info(path.c_str(), kOffset, kSize);
  info.addInfo(std::make_unique<PersistentInfo::Int>("n", PersistentInfo::Private));
  info.addInfo(std::make_unique<PersistentInfo::String>("s", 0, 8));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("bits", 0, 4));
  writeFile(0,
            "\x01\x02\x03\x04"
            "abcdefg");
  writeFile(12, "\xff\xff\xff\xff");
  info.clearAll();
  EXPECT_EQ(fileBytes(0, 12), std::string("\0\0\0\0\0bcdefg\0", 12));
  EXPECT_EQ(fileBytes(12, 4), word(0x0FFFFFFFu));

  info.setNewMemToDefault(13, 15);
  EXPECT_EQ(fileBytes(12, 4), word(0x0F0000FFu));
  info.setNewMemToDefault(20, 10);                  // empty range: nothing happens
  info.setNewMemToDefault(kSize - 2, kSize + 100);  // never past the record
  EXPECT_EQ(fileBytes(12, 4), word(0x0F0000FFu));
}

TEST_F(PersistentInfoTest, ParameterNamesLeaveOutPrivateAndHiddenFields) {
  PersistentInfo info(path.c_str(), kOffset, kSize);
  info.addInfo(std::make_unique<PersistentInfo::Int>("version", PersistentInfo::Private));
  info.addInfo(std::make_unique<PersistentInfo::String>("serial", 0, 30));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("unused", PersistentInfo::Hidden, 12));
  info.addInfo(std::make_unique<PersistentInfo::Bits>("flag", 0, 4));

  char* buffer = nullptr;
  size_t length = 0;
  FILE* stream = open_memstream(&buffer, &length);
  info.printParameters(stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, length), "serial flag");
  std::free(buffer);
}

}  // namespace
