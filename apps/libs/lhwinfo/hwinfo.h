#pragma once
// The unit's factory record: a checked block on the eMMC and the boot-flag word of a hardware register.
#include <string>

#include "apps/common/log/log.h"
#include "apps/libs/lhwinfo/persistentinfo.h"

class HwInfo {
 public:
  static constexpr unsigned int MMC_BLOCK_VERSION = 5;
  static constexpr unsigned int REGISTER_ADDRESS = 0x020CC068;
  static constexpr unsigned int REGISTER_SIZE = 4;
  static constexpr unsigned int BLOCK_OFFSET = 0x100000;
  static constexpr unsigned int BLOCK_REGION = 0x10000;
  static constexpr unsigned int BLOCK_SIZE = 348;

  HwInfo();
  // The two device files, for tools and tests that stand in for the hardware.
  HwInfo(const char* memDevice, const char* mmcDevice);

  // Defines the fields and checks the block: a record that fails its length or checksum check is
  // reported and left as it is, and its fields are not written; a shorter older layout that verifies
  // gains the newer fields.
  void initialize();
  // The block passed its checks (or was cleared to factory defaults).
  bool isValid() const { return valid; }
  bool read(const char* name, std::string& text);
  bool read(const char* name, unsigned int& value);
  // Block fields are written (and the block sealed again) only while it is valid; the register word's always.
  bool write(const char* name, unsigned int value);
  int write(const char* name, const char* text);
  bool write(std::string assignment);
  // Factory defaults, written on purpose by production tools whatever the block held.
  void clear();
  void initNewMemory(unsigned int oldLength);
  bool updateChecksum();

 private:
  bool hasBlockField(const char* name) const;
  bool blockWritable(const char* name) const;

  PersistentInfo registerWord;
  PersistentInfo block;
  gen::LogLevel* logLevel = nullptr;
  bool valid = false;
};
