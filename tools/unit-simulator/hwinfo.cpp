#include "apps/libs/lhwinfo/hwinfo.h"

#include <cstdio>

#include "apps/common/constants/constants.h"
#include "tools/unit-simulator/commands.h"

namespace {
// The factory writes the block in one go, so a new unit's kernel log shows no repair of it: the header
// gets its version, length and checksum before the block is read in.
void stampHeader() {
  PersistentInfo block("/dev/mmcblk1", HwInfo::BLOCK_OFFSET, HwInfo::BLOCK_SIZE);
  for (const char* name : {"version", "length", "checksum"})
    block.addInfo(std::make_unique<PersistentInfo::Int>(name, PersistentInfo::Private));
  block.set<PersistentInfo::Int>("version", HwInfo::MMC_BLOCK_VERSION, true);
  block.set<PersistentInfo::Int>("length", HwInfo::BLOCK_SIZE, true);
  block.set<PersistentInfo::Int>("checksum", block.checksum(HwInfo::BLOCK_SIZE), true);
}
}  // namespace

// A factory block as the unit leaves production: defaults first, then its identity.
int runHwinfo(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: unit-simulator hwinfo [SERIAL [BOARD]]\n");
    return 2;
  }
  stampHeader();
  HwInfo hwInfo;
  hwInfo.initialize();
  hwInfo.clear();
  if (!hwInfo.write(Constants::HWINFO_SERIAL, argc > 0 ? argv[0] : "10042") ||
      !hwInfo.write(Constants::HWINFO_BOARD, argc > 1 ? argv[1] : "handunit"))
    return 1;
  return 0;
}
