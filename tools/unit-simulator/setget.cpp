#include <cstdio>

#include "apps/common/gen/gen.h"
#include "tools/unit-simulator/commands.h"
#include "tools/unit-simulator/variable.h"

int runSet(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: unit-simulator set MEM VAR VALUE\n");
    return 2;
  }
  gen::init();
  bool stored = Variable(argv[0], argv[1]).set(argv[2]);
  gen::closeServerConnection();
  return stored ? 0 : 1;
}

int runGet(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: unit-simulator get MEM VAR\n");
    return 2;
  }
  gen::init();
  Variable variable(argv[0], argv[1]);
  std::printf("%s\n", Introspection::getVarValue(variable.mem, variable.var, 0).c_str());
  gen::closeServerConnection();
  return 0;
}
