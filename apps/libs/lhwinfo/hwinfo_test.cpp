#include "apps/libs/lhwinfo/hwinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/unit/kernel_log_capture.h"

namespace {

std::string word(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

class HwInfoTest : public ::testing::Test {
 protected:
  static constexpr long kBlock = 0x100000;
  static constexpr long kRegister = 0x020CC068;

  void SetUp() override {
    mem = scratch("mem", 0x020CD000);
    mmc = scratch("mmc", 0x110000);
  }
  void TearDown() override {
    unlink(mem.c_str());
    unlink(mmc.c_str());
  }
  static std::string scratch(const char* what, off_t size) {
    std::string name = std::string("/tmp/hwinfo_test_") + what + "_XXXXXX";
    int fd = mkstemp(name.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, size), 0);
    close(fd);
    return name;
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

  std::string mem;
  std::string mmc;
};

TEST_F(HwInfoTest, NeverWrittenBlockIsZeroFilledAndSealedWithoutDefaults) {
  size_t logStart = testsupport::kernelLogText().size();
  HwInfo info(mem.c_str(), mmc.c_str());
  info.initialize();
  std::string log = testsupport::kernelLogSince(logStart);
  EXPECT_NE(log.find("Error       "), std::string::npos) << log;
  EXPECT_NE(log.find("Differents length, setting new values to default."), std::string::npos) << log;
  EXPECT_EQ(log.find("Wrong checksum"), std::string::npos) << log;
  expectSealed();
  EXPECT_EQ(readText(info, "serial"), "");
}

TEST_F(HwInfoTest, CorruptOrOversizedBlockGetsFactoryDefaults) {
  for (uint32_t badLength : {348u, 0x10001u, 0xFFFFFFFFu}) {
    writeValidBlock("SN4711", "mainboard", 17);
    if (badLength == 348u)
      put(mmc, kBlock + 13, "X");  // one altered byte of the serial
    else
      put(mmc, kBlock + 4, word(badLength));
    size_t logStart = testsupport::kernelLogText().size();
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
    EXPECT_NE(testsupport::kernelLogSince(logStart).find("Wrong checksum, setting defaults."), std::string::npos);
    EXPECT_EQ(readText(info, "serial"), "0000") << badLength;
    EXPECT_EQ(readText(info, "knob_position_min"), "0");
    expectSealed();
  }
}

TEST_F(HwInfoTest, ShorterOlderLayoutKeepsItsValuesAndGainsZeroedFields) {
  std::string body = field("OLD1", 30) + field("oldboard", 30) + field("0.9", 30) + field("", 30) + word(3) +
                     std::string(348 - 136, '\x55');
  put(mmc, kBlock + 12, body);
  put(mmc, kBlock, word(4) + word(136) + word(checksum(136)));
  HwInfo info(mem.c_str(), mmc.c_str());
  info.initialize();
  EXPECT_EQ(readText(info, "serial"), "OLD1");
  EXPECT_EQ(readText(info, "knob_position_min"), "3");
  EXPECT_EQ(readText(info, "knob_position_max"), "0");
  EXPECT_EQ(readText(info, "knob_linearization"), "");
  EXPECT_EQ(get(mmc, kBlock + 136, 348 - 136), std::string(348 - 136, '\0'));
  expectSealed();
}

TEST_F(HwInfoTest, ValidBlockIsKeptAndWritesKeepTheChecksumAndRespectPrivateFields) {
  writeValidBlock("SN4711", "mainboard", 17);
  std::string before = get(mmc, kBlock, 348);
  size_t logStart = testsupport::kernelLogText().size();
  {
    HwInfo info(mem.c_str(), mmc.c_str());
    info.initialize();
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
    EXPECT_THROW(info.write("serial", std::string(29, '9').c_str()), std::runtime_error);
    EXPECT_EQ(info.write("revision", std::string(28, '9').c_str()), 1);
    expectSealed();
  }
  HwInfo again(mem.c_str(), mmc.c_str());
  again.initialize();
  EXPECT_EQ(readText(again, "serial"), "NEW-42");
  EXPECT_EQ(readText(again, "board"), "rev-b");
  EXPECT_EQ(readText(again, "cal_comp"), "99");
  EXPECT_EQ(readText(again, "revision"), std::string(28, '9'));
}

TEST_F(HwInfoTest, BootFlagsAreBitsOfTheRegisterWord) {
  put(mem, kRegister, word(0x8000002Bu));
  HwInfo info(mem.c_str(), mmc.c_str());
  info.initialize();
  EXPECT_EQ(readText(info, "update_requested"), "1");
  EXPECT_EQ(readText(info, "unused"), "1");
  EXPECT_EQ(readText(info, "boot_failed"), "0");
  EXPECT_EQ(readText(info, "boot_failed_counter"), "11");

  EXPECT_TRUE(info.write("boot_failed", 1u));
  EXPECT_TRUE(info.write(std::string("boot_failed_counter=2")));
  EXPECT_TRUE(info.write("update_requested", 0u));
  EXPECT_EQ(get(mem, kRegister, 4), word(0x00000032u));
  // Text writes reach the block only.
  EXPECT_EQ(info.write("boot_failed", "0"), 0);
}

TEST_F(HwInfoTest, MissingDeviceFailsConstruction) {
  EXPECT_THROW(HwInfo("/nonexistent/mem", mmc.c_str()), std::runtime_error);
  EXPECT_THROW(HwInfo(mem.c_str(), "/nonexistent/mmc"), std::runtime_error);
}

}  // namespace
