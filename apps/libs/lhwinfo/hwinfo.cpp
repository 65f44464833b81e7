#include "apps/libs/lhwinfo/hwinfo.h"

#include "apps/common/constants/constants.h"

namespace {
constexpr const char* kVersion = "version";
constexpr const char* kLength = "length";
constexpr const char* kChecksum = "checksum";
constexpr unsigned int kTextLength = 30;
constexpr unsigned int kLinearizationLength = 180;

std::unique_ptr<PersistentInfo::Base> intField(const char* name, uint32_t flags = 0) {
  return std::make_unique<PersistentInfo::Int>(name, flags);
}
std::unique_ptr<PersistentInfo::Base> textField(const char* name, unsigned int length) {
  return std::make_unique<PersistentInfo::String>(name, 0, length);
}
std::unique_ptr<PersistentInfo::Base> bitsField(const char* name, unsigned int width, uint32_t flags = 0) {
  return std::make_unique<PersistentInfo::Bits>(name, flags, width);
}
}  // namespace

HwInfo::HwInfo() : HwInfo("/dev/mem", "/dev/mmcblk1") {}

HwInfo::HwInfo(const char* memDevice, const char* mmcDevice)
    : registerWord(memDevice, REGISTER_ADDRESS, REGISTER_SIZE), block(mmcDevice, BLOCK_OFFSET, BLOCK_REGION) {}

void HwInfo::initialize() {
  block.addInfo(intField(kVersion, PersistentInfo::Private));
  block.addInfo(intField(kLength, PersistentInfo::Private));
  block.addInfo(intField(kChecksum, PersistentInfo::Private));
  for (const char* name :
       {Constants::HWINFO_SERIAL, Constants::HWINFO_BOARD, Constants::HWINFO_REVISION, Constants::HWINFO_K})
    block.addInfo(textField(name, kTextLength));
  for (const char* name :
       {Constants::KNOB_POS_MIN, Constants::KNOB_POS_MAX, Constants::SLIDER_POS_MIN, Constants::SLIDER_POS_MAX,
        Constants::JOYSTICK_ZERO_POS_X, Constants::JOYSTICK_ZERO_POS_Y, Constants::VIBRATION_BEMF_GAIN,
        Constants::VIBRATION_CAL_COMP, Constants::VIBRATION_CAL_BEMF})
    block.addInfo(intField(name));
  registerWord.addInfo(bitsField(Constants::HWINFO_UPDATE_REQ, 1));
  registerWord.addInfo(bitsField(Constants::HWINFO_UNUSED, 26, PersistentInfo::Hidden));
  registerWord.addInfo(bitsField(Constants::HWINFO_BOOT_FAILED, 1));
  registerWord.addInfo(bitsField(Constants::HWINFO_BOOT_FAILED_COUNTER, 4));
  block.addInfo(textField(Constants::HWINFO_KNOB_LINEARIZATION, kLinearizationLength));

  unsigned int length = 0;
  block.get<PersistentInfo::Int>(kLength, length);
  if (length < BLOCK_SIZE) {
    logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Differents length, setting new values to default.");
    initNewMemory(length);
    length = BLOCK_SIZE;
  }
  unsigned int stored = 0;
  block.get<PersistentInfo::Int>(kChecksum, stored);
  // A length beyond the mapped region cannot be checked; such a block is as broken as a wrong checksum.
  if (length <= BLOCK_REGION && stored == block.checksum(length)) return;
  logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Wrong checksum, setting defaults.");
  clear();
}

bool HwInfo::read(const char* name, std::string& text) {
  return block.get<PersistentInfo::Base>(name, text) || registerWord.get<PersistentInfo::Base>(name, text);
}

bool HwInfo::read(const char* name, unsigned int& value) {
  return block.get<PersistentInfo::Int>(name, value) || registerWord.get<PersistentInfo::Int>(name, value);
}

bool HwInfo::write(const char* name, unsigned int value) {
  if (!block.set<PersistentInfo::Int>(name, value, false) && !registerWord.set<PersistentInfo::Int>(name, value, false))
    return false;
  updateChecksum();
  return true;
}

int HwInfo::write(const char* name, const char* text) {
  if (!block.set<PersistentInfo::Base, const char*>(name, text, false)) return false;
  return updateChecksum();
}

bool HwInfo::write(std::string assignment) {
  size_t equals = assignment.find('=');
  if (equals == std::string::npos) return false;
  std::string name = assignment.substr(0, equals);
  const char* text = assignment.c_str() + equals + 1;
  if (!block.set<PersistentInfo::Base, const char*>(name.c_str(), text, false) &&
      !registerWord.set<PersistentInfo::Base, const char*>(name.c_str(), text, false))
    return false;
  updateChecksum();
  return true;
}

void HwInfo::clear() {
  block.clearAll();
  block.set<PersistentInfo::Int>(kVersion, MMC_BLOCK_VERSION, true);
  block.set<PersistentInfo::Int>(kLength, BLOCK_SIZE, true);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_SERIAL, "0000", false);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_BOARD, "prototype", false);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_REVISION, "1.0", false);
  updateChecksum();
}

void HwInfo::initNewMemory(unsigned int oldLength) {
  block.setNewMemToDefault(oldLength, BLOCK_SIZE);
  block.set<PersistentInfo::Int>(kLength, BLOCK_SIZE, true);
  block.set<PersistentInfo::Int>(kChecksum, block.checksum(BLOCK_SIZE), true);
  unsigned int version = 0;
  block.get<PersistentInfo::Int>(kVersion, version);
  if (version != MMC_BLOCK_VERSION) block.set<PersistentInfo::Int>(kVersion, MMC_BLOCK_VERSION, true);
}

bool HwInfo::updateChecksum() {
  unsigned int length = 0;
  block.get<PersistentInfo::Int>(kLength, length);
  return block.set<PersistentInfo::Int>(kChecksum, block.checksum(length), true);
}
