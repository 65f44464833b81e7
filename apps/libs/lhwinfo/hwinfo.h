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

  void initialize();
  bool read(const char* name, std::string& text);
  bool read(const char* name, unsigned int& value);
  bool write(const char* name, unsigned int value);
  int write(const char* name, const char* text);
  bool write(std::string assignment);
  void clear();
  void initNewMemory(unsigned int oldLength);
  bool updateChecksum();

 private:
  PersistentInfo registerWord;
  PersistentInfo block;
  gen::LogLevel* logLevel = nullptr;
};
