#include "apps/libs/lhwinfo/hwinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "apps/libs/lhwinfo/persistentinfo.h"
#include "tests/unit/kernel_log_capture.h"

namespace {

std::string word(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// Sparse scratch files standing in for the devices, removed after each test.
class ScratchFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : paths) unlink(path.c_str());
  }
  std::string scratch(off_t size) {
    char name[] = "/tmp/hwinfo_test_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, size), 0);
    close(fd);
    return paths.emplace_back(name);
  }
  static void put(const std::string& path, long at, const std::string& bytes) {
    std::fstream(path, std::ios::binary | std::ios::in | std::ios::out)
        .seekp(at)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string get(const std::string& path, long at, size_t count) {
    std::string bytes(count, '\0');
    std::ifstream(path, std::ios::binary).seekg(at).read(bytes.data(), static_cast<std::streamsize>(count));
    return bytes;
  }

  std::vector<std::string> paths;
};

// The record sits at a deliberately unaligned offset.
class PersistentInfoTest : public ScratchFiles {
 protected:
  static constexpr unsigned int kOffset = 0x1068;
  static constexpr unsigned int kSize = 64;

  std::string fileBytes(unsigned int from, unsigned int count) { return get(path, kOffset + from, count); }
  void writeFile(unsigned int from, const std::string& bytes) { put(path, kOffset + from, bytes); }
  static bool setText(PersistentInfo& info, const char* name, const std::string& text) {
    return info.set<PersistentInfo::Base, const char*>(name, text.c_str(), false);
  }

  std::string path = scratch(0x3000);
};

class HwInfoTest : public ScratchFiles {
 protected:
  static constexpr long kBlock = 0x100000;
  static constexpr long kRegister = 0x020CC068;

  static std::string field(const std::string& text, size_t size) {
    return text + std::string(size - text.size(), '\0');
  }

  // The block's checksum over its first length bytes, by the record code whose check value is tested apart.
  uint32_t checksum(unsigned int length) { return PersistentInfo(mmc.c_str(), kBlock, 348).checksum(length); }
  // A factory block of the current layout with a correct checksum.
  void writeValidBlock(const std::string& serial, const std::string& board, uint32_t knobMin) {
    put(mmc, kBlock + 12, field(serial, 30) + field(board, 30) + field("2.1", 30) + field("", 30) + word(knobMin));
    put(mmc, kBlock, word(5) + word(348) + word(checksum(348)));
  }
  std::string readText(HwInfo& info, const char* name) {
    std::string text = "unread";
    EXPECT_TRUE(info.read(name, text)) << name;
    return text;
  }
  // A repaired block carries the current version and length and a checksum the unit accepts.
  void expectSealed() { EXPECT_EQ(get(mmc, kBlock, 12), word(5) + word(348) + word(checksum(348))); }

  std::string mem = scratch(0x020CD000);
  std::string mmc = scratch(0x110000);
};

TEST_F(HwInfoTest, BootFlagsAreRegisterBitsAndADamagedBlockIsReportedAndNeverWrittenUntilClearedOnPurpose) {
  // Boot flags are bits of the register word of a device that must exist.
  put(mem, kRegister, word(0x8000002Bu));
  {
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
    EXPECT_EQ(readText(info, "update_requested") + readText(info, "unused") + readText(info, "boot_failed") + "," +
                  readText(info, "boot_failed_counter"),
              "110,11");

    EXPECT_TRUE(info.write("boot_failed", 1u));
    EXPECT_TRUE(info.write(std::string("boot_failed_counter=2")));
    EXPECT_TRUE(info.write("update_requested", 0u));
    EXPECT_EQ(get(mem, kRegister, 4), word(0x00000032u));
    // Text writes reach the block only; the never-written block was not sealed by the register's writes.
    EXPECT_EQ(info.write("boot_failed", "0"), 0);
    EXPECT_EQ(get(mmc, kBlock, 348), std::string(348, '\0'));
  }
  EXPECT_THROW(HwInfo("/nonexistent/mem", mmc.c_str()), std::runtime_error);
  EXPECT_THROW(HwInfo(mem.c_str(), "/nonexistent/mmc"), std::runtime_error);

  const struct {
    const char* damage;
    long at;
    std::string bytes;
    const char* line;
  } damages[] = {
      {"one byte of the serial", kBlock + 13, "X", "Factory record fails its checksum, left as it is."},
      {"one byte of the checksum", kBlock + 8, "\x01", "Factory record fails its checksum, left as it is."},
      {"never written", kBlock, word(0) + word(0), "Factory record fails its length check (0), left as it is."},
      {"header only", kBlock + 4, word(12), "Factory record fails its length check (12), left as it is."},
      {"beyond the region", kBlock + 4, word(0x10001), "fails its length check (65537)"},
      {"shorter, not verifying", kBlock + 4, word(136), "Factory record fails its checksum, left as it is."}};
  for (const auto& d : damages) {
    writeValidBlock("SN4711", "mainboard", 17);
    put(mmc, d.at, d.bytes);
    const std::string damaged = get(mmc, kBlock, 348);
    const size_t logStart = testsupport::kernelLogText().size();
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
    EXPECT_FALSE(info.isValid()) << d.damage;
    const std::string log = testsupport::kernelLogSince(logStart);
    EXPECT_TRUE(log.find(d.line) != log.npos && log.find("Error       ") != log.npos) << d.damage << log;

    // No write reaches the block, and none seals it; the register word is hardware of its own.
    EXPECT_FALSE(info.write(std::string("serial=NEW-42")) || info.write("cal_comp", 99u)) << d.damage;
    EXPECT_EQ(info.write("board", "rev-b"), 0);
    EXPECT_TRUE(info.write("boot_failed", 1u));
    EXPECT_NE(testsupport::kernelLogSince(logStart).find("Factory record is damaged, cal_comp is not written."),
              std::string::npos);
    HwInfo again(mem.c_str(), mmc.c_str());
    again.initialize();
    EXPECT_FALSE(again.isValid()) << d.damage;
    EXPECT_EQ(get(mmc, kBlock, 348), damaged) << d.damage;
  }

  // A production tool's reset is written on purpose, and the block is valid from then on.
  HwInfo info(mem.c_str(), mmc.c_str());
  info.initialize();
  info.clear();
  EXPECT_TRUE(info.isValid());
  EXPECT_EQ(readText(info, "serial") + "," + readText(info, "board") + "," + readText(info, "knob_position_min"),
            "0000,prototype,0");
  expectSealed();
  EXPECT_EQ(info.write("serial", "SN1"), 1);
}

TEST_F(HwInfoTest, OlderLayoutGainsZeroedFieldsValidBlockIsKeptAndWritesKeepTheChecksumAndPrivateFields) {
  // A shorter older layout that verifies keeps its values and gains zeroed fields.
  std::string body = field("OLD1", 30) + field("oldboard", 30) + field("0.9", 30) + field("", 30) + word(3) +
                     std::string(348 - 136, '\x55');
  put(mmc, kBlock + 12, body);
  put(mmc, kBlock, word(4) + word(136) + word(checksum(136)));
  size_t logStart = testsupport::kernelLogText().size();
  {
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
    EXPECT_TRUE(info.isValid());
    EXPECT_NE(testsupport::kernelLogSince(logStart).find("Differents length, setting new values to default."),
              std::string::npos);
    EXPECT_EQ(readText(info, "serial") + "," + readText(info, "knob_position_min"), "OLD1,3");
    EXPECT_EQ(get(mmc, kBlock + 136, 348 - 136), std::string(348 - 136, '\0'));
    expectSealed();
  }

  // A valid block of the current layout is kept byte for byte.
  writeValidBlock("SN4711", "mainboard", 17);
  std::string before = get(mmc, kBlock, 348);
  logStart = testsupport::kernelLogText().size();
  {
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
    EXPECT_TRUE(info.isValid());
    EXPECT_EQ(get(mmc, kBlock, 348), before);
    EXPECT_EQ(testsupport::kernelLogSince(logStart), "");
    unsigned int knob = 0;
    EXPECT_TRUE(info.read("knob_position_min", knob));
    EXPECT_EQ(knob, 17u);

    EXPECT_TRUE(info.write(std::string("serial=NEW-42")));
    EXPECT_FALSE(info.write(std::string("serial")));
    EXPECT_FALSE(info.write(std::string("nosuchfield=1")));
    EXPECT_EQ(info.write("board", "rev-b"), 1);
    EXPECT_EQ(info.write("nosuchfield", "x"), 0);
    EXPECT_TRUE(info.write("cal_comp", 99u));
    EXPECT_FALSE(info.write("nosuchfield", 1u));
    EXPECT_THROW(info.write(std::string("version=3")), std::runtime_error);
    EXPECT_THROW(info.write("checksum", 1u), std::runtime_error);
    expectSealed();
  }
  HwInfo again(mem.c_str(), mmc.c_str());
  again.initialize();
  EXPECT_EQ(readText(again, "serial") + "," + readText(again, "board") + "," + readText(again, "cal_comp"),
            "NEW-42,rev-b,99");
}

TEST_F(PersistentInfoTest, BitsFillTheWordFromTheTopFieldsStayBoundedAndTheChecksumSkipsTheHeader) {
  PersistentInfo bits(path.c_str(), kOffset, 4);
  bits.addInfo(std::make_unique<PersistentInfo::Bits>("top", 0, 1));
  bits.addInfo(std::make_unique<PersistentInfo::Bits>("middle", PersistentInfo::Hidden, 26));
  bits.addInfo(std::make_unique<PersistentInfo::Bits>("flag", 0, 1));
  bits.addInfo(std::make_unique<PersistentInfo::Bits>("counter", 0, 4));
  EXPECT_EQ(bits.size(), 4u);

  writeFile(0, std::string("\x00\x00\x00\x00", 4));
  EXPECT_TRUE(setText(bits, "top", "1"));
  EXPECT_EQ(fileBytes(0, 4), word(0x80000000u));
  EXPECT_TRUE(setText(bits, "counter", "0x") && setText(bits, "counter", "31"));  // masked to 4 bits
  EXPECT_EQ(fileBytes(0, 4), word(0x8000000Fu));
  EXPECT_TRUE(bits.set<PersistentInfo::Int>("flag", 1u, false));
  EXPECT_EQ(fileBytes(0, 4), word(0x8000001Fu));
  EXPECT_TRUE(bits.set<PersistentInfo::Int>("middle", 0x3FFFFFFu, false));
  EXPECT_EQ(fileBytes(0, 4), word(0xFFFFFFFFu));
  EXPECT_TRUE(bits.set<PersistentInfo::Int>("middle", 1u, false));
  EXPECT_EQ(fileBytes(0, 4), word(0x8000003Fu));

  std::string text;
  unsigned int value = 0;
  EXPECT_TRUE(bits.get<PersistentInfo::Base>("counter", text) && bits.get<PersistentInfo::Int>("middle", value));
  EXPECT_EQ(text + "," + std::to_string(value), "15,1");

  // A bit field crossing into the next word, or a field past the record's end, is refused.
  PersistentInfo crossing(path.c_str(), kOffset, 8);
  crossing.addInfo(std::make_unique<PersistentInfo::Bits>("first", 0, 30));
  EXPECT_THROW(crossing.addInfo(std::make_unique<PersistentInfo::Bits>("second", 0, 4)), std::runtime_error);
  crossing.addInfo(std::make_unique<PersistentInfo::Int>("b", 0));
  EXPECT_THROW(crossing.addInfo(std::make_unique<PersistentInfo::String>("c", 0, 2)), std::runtime_error);

  // Strings are bounded by their field; numbers convert like a 32-bit stoul.
  PersistentInfo info(path.c_str(), kOffset, kSize);
  info.addInfo(std::make_unique<PersistentInfo::String>("s", 0, 30));
  info.addInfo(std::make_unique<PersistentInfo::String>("next", 0, 30));
  info.addInfo(std::make_unique<PersistentInfo::Int>("n", 0));
  EXPECT_TRUE(setText(info, "n", "4294967295"));
  EXPECT_THROW(setText(info, "n", ""), std::invalid_argument);
  EXPECT_THROW(setText(info, "n", "4294967296"), std::out_of_range);  // fits a 64-bit long, not the field
  info.get<PersistentInfo::Int>("n", value);
  EXPECT_EQ(value, 4294967295u);  // failed conversions leave the field alone

  EXPECT_TRUE(setText(info, "next", "after"));
  EXPECT_TRUE(setText(info, "s", std::string(28, 'a')));
  EXPECT_THROW(setText(info, "s", std::string(29, 'b')), std::runtime_error);
  info.get<PersistentInfo::Base>("s", text);
  EXPECT_EQ(text, std::string(28, 'a'));

  // A shorter text keeps the old bytes behind its terminator.
  EXPECT_TRUE(setText(info, "s", "xy"));
  EXPECT_EQ(fileBytes(0, 4), std::string("xy\0a", 4));

  // Without a terminator the text ends at the field's end, not in the next field.
  writeFile(0, std::string(30, 'z'));
  info.get<PersistentInfo::Base>("s", text);
  EXPECT_EQ(text, std::string(30, 'z'));
  EXPECT_FALSE(info.get<PersistentInfo::Base>("missing", text));

  // The checksum is CRC-32/MPEG-2 over the bytes after the header.
  PersistentInfo record(path.c_str(), kOffset, kSize);
  writeFile(0, "HEADERHEADER123456789");
  EXPECT_EQ(record.checksum(21), 0x0376E6E7u);  // the algorithm's published check value
  EXPECT_EQ(record.checksum(12), 0xFFFFFFFFu);

  // Length 13 covers byte 12 only; the header never counts.
  uint32_t one = record.checksum(13);
  writeFile(0, "headerheader");
  writeFile(13, "x");
  EXPECT_EQ(record.checksum(13), one);
  writeFile(12, "0");
  EXPECT_NE(record.checksum(13), one);

  EXPECT_NO_THROW(record.checksum(kSize));  // the whole record
  EXPECT_THROW(record.checksum(kSize + 1), std::runtime_error);

  // Clearing zeroes only what each field owns; parameter names leave out private and hidden fields.
  PersistentInfo layout(path.c_str(), kOffset, kSize);
  layout.addInfo(std::make_unique<PersistentInfo::Int>("version", PersistentInfo::Private));
  layout.addInfo(std::make_unique<PersistentInfo::String>("serial", 0, 8));
  layout.addInfo(std::make_unique<PersistentInfo::Bits>("unused", PersistentInfo::Hidden, 12));
  layout.addInfo(std::make_unique<PersistentInfo::Bits>("flag", 0, 4));
  writeFile(0, std::string("\x01\x02\x03\x04") + std::string("abcdefg\0\xff\xff\xff\xff", 12));
  layout.clearAll();
  EXPECT_EQ(fileBytes(0, 12), std::string("\0\0\0\0\0bcdefg\0", 12));
  EXPECT_EQ(fileBytes(12, 4), word(0x0000FFFFu));

  writeFile(12, "\xff\xff\xff\xff");
  layout.setNewMemToDefault(13, 15);
  EXPECT_EQ(fileBytes(12, 4), word(0xFF0000FFu));
  layout.setNewMemToDefault(20, 10);                  // empty range: nothing happens
  layout.setNewMemToDefault(kSize - 2, kSize + 100);  // never past the record
  EXPECT_EQ(fileBytes(12, 4), word(0xFF0000FFu));

  char* buffer = nullptr;
  size_t length = 0;
  FILE* stream = open_memstream(&buffer, &length);
  layout.printParameters(stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, length), "serial flag");
  std::free(buffer);
}

}  // namespace
