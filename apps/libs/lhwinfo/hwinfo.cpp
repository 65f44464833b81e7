#include "apps/libs/lhwinfo/hwinfo.h"

#include "apps/common/constants/constants.h"

namespace {
constexpr const char* kVersion = "version";
constexpr const char* kLength = "length";
constexpr const char* kChecksum = "checksum";
constexpr unsigned int kTextLength = 30;
constexpr unsigned int kLinearizationLength = 180;
constexpr unsigned int kHeaderLength = 12;  // version, length and checksum, which the checksum leaves out

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

  // A damaged record is never written: a technician may still recover what it holds.
  unsigned int length = 0;
  unsigned int stored = 0;
  block.get<PersistentInfo::Int>(kLength, length);
  block.get<PersistentInfo::Int>(kChecksum, stored);
  // The header alone covers nothing, and a length beyond the mapped region cannot be checked.
  if (length <= kHeaderLength || length > BLOCK_REGION) {
    logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Factory record fails its length check (%u), left as it is.",
               length);
    return;
  }
  if (stored != block.checksum(length)) {
    logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Factory record fails its checksum, left as it is.");
    return;
  }
  valid = true;
  if (length < BLOCK_SIZE) {
    logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Differents length, setting new values to default.");
    initNewMemory(length);
  }
}

bool HwInfo::read(const char* name, std::string& text) {
  return block.get<PersistentInfo::Base>(name, text) || registerWord.get<PersistentInfo::Base>(name, text);
}

bool HwInfo::read(const char* name, unsigned int& value) {
  return block.get<PersistentInfo::Int>(name, value) || registerWord.get<PersistentInfo::Int>(name, value);
}

bool HwInfo::write(const char* name, unsigned int value) {
  if (hasBlockField(name))
    return blockWritable(name) && block.set<PersistentInfo::Int>(name, value, false) && updateChecksum();
  return registerWord.set<PersistentInfo::Int>(name, value, false);
}

int HwInfo::write(const char* name, const char* text) {
  if (!hasBlockField(name) || !blockWritable(name)) return false;
  if (!block.set<PersistentInfo::Base, const char*>(name, text, false)) return false;
  return updateChecksum();
}

bool HwInfo::write(std::string assignment) {
  size_t equals = assignment.find('=');
  if (equals == std::string::npos) return false;
  std::string name = assignment.substr(0, equals);
  const char* text = assignment.c_str() + equals + 1;
  if (hasBlockField(name.c_str()))
    return blockWritable(name.c_str()) && block.set<PersistentInfo::Base, const char*>(name.c_str(), text, false) &&
           updateChecksum();
  return registerWord.set<PersistentInfo::Base, const char*>(name.c_str(), text, false);
}

void HwInfo::clear() {
  block.clearAll();
  block.set<PersistentInfo::Int>(kVersion, MMC_BLOCK_VERSION, true);
  block.set<PersistentInfo::Int>(kLength, BLOCK_SIZE, true);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_SERIAL, "0000", false);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_BOARD, "prototype", false);
  block.set<PersistentInfo::Base, const char*>(Constants::HWINFO_REVISION, "1.0", false);
  updateChecksum();
  valid = true;
}

void HwInfo::initNewMemory(unsigned int oldLength) {
  block.setNewMemToDefault(oldLength, BLOCK_SIZE);
  block.set<PersistentInfo::Int>(kLength, BLOCK_SIZE, true);
  block.set<PersistentInfo::Int>(kChecksum, block.checksum(BLOCK_SIZE), true);
  unsigned int version = 0;
  block.get<PersistentInfo::Int>(kVersion, version);
  if (version != MMC_BLOCK_VERSION) block.set<PersistentInfo::Int>(kVersion, MMC_BLOCK_VERSION, true);
}

bool HwInfo::hasBlockField(const char* name) const {
  std::string text;
  return block.get<PersistentInfo::Base>(name, text);
}

// Sealing a write into a record that does not verify would make its damaged bytes look good.
bool HwInfo::blockWritable(const char* name) const {
  if (valid) return true;
  logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Factory record is damaged, %s is not written.", name);
  return false;
}

bool HwInfo::updateChecksum() {
  unsigned int length = 0;
  block.get<PersistentInfo::Int>(kLength, length);
  return block.set<PersistentInfo::Int>(kChecksum, block.checksum(length), true);
}
