// The factory record read from arbitrary block contents: validation, repair and every field read.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "apps/common/constants/constants.h"
#include "apps/libs/lhwinfo/hwinfo.h"
#include "fuzz/quiet_kernel_log.h"

namespace {
std::string memFile;
std::string mmcFile;

std::string scratch(const char* what, off_t size) {
  std::string name = std::string("/tmp/hwinfo_fuzzer_") + what + "_XXXXXX";
  int fd = ::mkstemp(name.data());
  if (fd < 0 || ::ftruncate(fd, size) != 0) std::abort();
  ::close(fd);
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::quietKernelLog();
  memFile = scratch("mem", HwInfo::REGISTER_ADDRESS + 0x1000);
  mmcFile = scratch("mmc", HwInfo::BLOCK_OFFSET + HwInfo::BLOCK_REGION);
  std::atexit([] {
    ::unlink(memFile.c_str());
    ::unlink(mmcFile.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> region(HwInfo::BLOCK_REGION, 0);
  std::copy(data, data + std::min<size_t>(size, region.size()), region.begin());
  int fd = ::open(mmcFile.c_str(), O_WRONLY);
  if (fd < 0 || ::pwrite(fd, region.data(), region.size(), HwInfo::BLOCK_OFFSET) != ssize_t(region.size()))
    std::abort();
  ::close(fd);

  HwInfo info(memFile.c_str(), mmcFile.c_str());
  info.initialize();
  // A block that fails its checks is left byte for byte as it was.
  if (!info.isValid()) {
    std::vector<uint8_t> after(region.size());
    fd = ::open(mmcFile.c_str(), O_RDONLY);
    if (fd < 0 || ::pread(fd, after.data(), after.size(), HwInfo::BLOCK_OFFSET) != ssize_t(after.size())) std::abort();
    ::close(fd);
    if (after != region) std::abort();
  }
  std::string text;
  unsigned int value = 0;
  for (const char* name :
       {"version", "length", "checksum", Constants::HWINFO_SERIAL, Constants::HWINFO_BOARD, Constants::HWINFO_REVISION,
        Constants::HWINFO_K, Constants::KNOB_POS_MIN, Constants::VIBRATION_CAL_BEMF,
        Constants::HWINFO_KNOB_LINEARIZATION, Constants::HWINFO_BOOT_FAILED_COUNTER}) {
    info.read(name, text);
    info.read(name, value);
  }
  // Whatever the block held, after the check it is one the unit accepts again unchanged.
  HwInfo again(memFile.c_str(), mmcFile.c_str());
  again.initialize();
  std::string serial;
  std::string serialAgain;
  info.read(Constants::HWINFO_SERIAL, serial);
  again.read(Constants::HWINFO_SERIAL, serialAgain);
  if (serial != serialAgain) std::abort();
  return 0;
}
