#include "tools/unit-simulator/startvalues.h"

#include <sys/stat.h>

#include <fstream>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testdocument.h"
#include "gen/code/introspection_gen.h"

namespace {
// One field of the first element of a structure row, the way a write request sets it.
std::string setField(const char* memory, const char* row, const char* field, const std::string& value) {
  unsigned int mem = Introspection::getMemIndex(memory), var = 0;
  if (!Introspection::findVariable(mem, row, var)) return std::string("no variable ") + row + "\n";
  std::string refused = Introspection::setVarValueJson(mem, var, {{row, {"{...}", true}}, {field, {value, false}}}, 0);
  return refused.empty() ? refused : std::string(row) + "." + field + " = " + value + ": " + refused + "\n";
}

std::string setValue(const char* memory, const char* row, const std::string& value) {
  unsigned int mem = Introspection::getMemIndex(memory), var = 0;
  if (!Introspection::findVariable(mem, row, var)) return std::string("no variable ") + row + "\n";
  std::string refused = Introspection::setVarValue(mem, var, value.c_str());
  return refused.empty() ? refused : std::string(row) + " = " + value + ": " + refused + "\n";
}

// The lenses of the catalogue's lens file list: a prime at 25 mm, the mounted 50 mm, a 24-70 zoom.
struct LensFile {
  const char* name;
  const char* text;
};
constexpr LensFile kLensFiles[] = {
    {"Prime_25.mib", "lens Prime 25\nserial SN-25-0017\nfocal 25 mm\niris 1.4 22\nfocus m 0.25 0.35 0.5 1 2 inf\n"},
    {"Prime_50.mib", "lens Prime 50\nserial SN-50-0042\nfocal 50 mm\niris 1.4 22\nfocus m 0.45 0.6 1 2 5 inf\n"},
    {"Zoom_24-70.mib", "lens Zoom 24-70\nserial SN-2470-0311\nfocal 24 70 mm\niris 2.8 22\nfocus m 0.38 0.5 1 3 inf\n"},
};
}  // namespace

std::string storeStartValues() {
  std::string refused = storeDefaultValues();
  // The motors stand where the last shot left them, the lens focused at a few metres.
  for (auto [motor, position] : {std::pair{"FocusMotor", "9600"}, {"IrisMotor", "4000"}, {"ZoomMotor", "8000"}})
    refused += setField("MemMotors", motor, "ActPosition", position);
  for (auto [row, value] : {std::pair{"FocusActPosNorm", "0.6"},
                            {"IrisActPosNorm", "0.25"},
                            {"ZoomActPosNorm", "0.5"},
                            {"LensActFocus", "2.4"},
                            {"LensActIris", "4"}})
    refused += setValue("MemDynamic", row, value);
  refused += setValue("MemCamera", "CamFocusDistanceMeter", "2.4");
  return refused;
}

void writeLensTables(const std::string& folder) {
  ::mkdir(folder.c_str(), 0755);
  for (const LensFile& file : kLensFiles) std::ofstream(folder + file.name) << file.text;
}
