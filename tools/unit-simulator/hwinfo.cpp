#include "apps/libs/lhwinfo/hwinfo.h"

#include <cstdio>

#include "apps/common/constants/constants.h"
#include "tools/unit-simulator/commands.h"

// A factory block as the unit leaves production: defaults first, then its identity.
int runHwinfo(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: unit-simulator hwinfo [SERIAL [BOARD]]\n");
    return 2;
  }
  HwInfo hwInfo;
  hwInfo.initialize();
  hwInfo.clear();
  if (!hwInfo.write(Constants::HWINFO_SERIAL, argc > 0 ? argv[0] : "10042") ||
      !hwInfo.write(Constants::HWINFO_BOARD, argc > 1 ? argv[1] : "handunit"))
    return 1;
  return 0;
}
