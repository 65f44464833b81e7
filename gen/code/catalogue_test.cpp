// The generated catalogue as the rest of the service sees it: tables, layout, events and the
// generated getters and setters working on zeroed payloads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "gen/code/introspection_gen.h"

namespace {

// A MemLens copy of a lens-marker row writes the marker's bytes, and its event leads to the marker row.
TEST(Catalogue, LensMarkerCopiesAddressTheMarkerBytes) {
  TestPayloads payloads;
  const RowRef copy = findRow("MemLens", "LensMarkerFocusClearAllValue");
  const RowRef original = findRow("MemLensMarkers", "LensMarkerFocusClearAllValue");
  EXPECT_EQ(Introspection::setVarValue(copy.mem, copy.var, "true"), "");
  EXPECT_EQ(Introspection::getVarValue(original.mem, original.var, 0), "true");
  unsigned int mem = 0, var = 0;
  Introspection::getVarLocation(copy.info().event, mem, var);
  EXPECT_EQ(mem, original.mem);
  EXPECT_EQ(var, original.var);
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{original.info().event});
}

TEST(Catalogue, GeneratedStructureGettersRenderEveryField) {
  TestPayloads payloads;
  RowRef coordinates = findRow("MemDistanceMeasure", "CdmCoordinatesList");
  char* second = coordinates.address() + 20;
  const int32_t valid = 1;
  const float half = 0.5f;
  std::memcpy(second, &valid, 4);
  std::memcpy(second + 4, &half, 4);
  const std::string element = Introspection::getVarValue(coordinates.mem, coordinates.var, 1);
  EXPECT_TRUE(element.starts_with("{\"CdmValid\": {")) << element;
  EXPECT_NE(element.find("\"value\":\"1\""), std::string::npos) << element;
  EXPECT_NE(element.find("\"CdmX\": {\"max\":\"1e+38\",\"min\":\"-1e+38\",\"type\":\"float\",\"value\":\"0.500000\"}"),
            std::string::npos)
      << element;
  EXPECT_TRUE(element.ends_with("}}")) << element;

  RowRef table = findRow("MemLens", "LensTableZoom");
  const std::string lensTable = Introspection::getVarValue(table.mem, table.var, 0);
  std::size_t scales = 0;
  for (std::size_t at = lensTable.find("\"ScalePosition\""); at != std::string::npos;
       at = lensTable.find("\"ScalePosition\"", at + 1)) {
    ++scales;
  }
  EXPECT_EQ(scales, 256u);
  EXPECT_NE(lensTable.find("\"LensTableValueList\":[{"), std::string::npos);
  EXPECT_TRUE(lensTable.ends_with("}]}"));

  RowRef motor = findRow("MemMotors", "ZoomMotor");
  const std::string zoom = Introspection::getVarValue(motor.mem, motor.var, 0);
  EXPECT_NE(zoom.find("\"GearTeethAct\": {\"max\":\"255\""), std::string::npos) << zoom;
  EXPECT_NE(zoom.find("\"State\":  { \"value\": \"Unknown\", \"type\": \"MotorStatus\""), std::string::npos) << zoom;

  // A name that fills its 50-byte field without a terminator is read up to the next field only.
  RowRef devices = findRow("MemExternalDevices", "PeltDeviceList");
  std::memset(devices.address() + 212 * 3 + 12, 'n', 50);
  std::memcpy(devices.address() + 212 * 3 + 62, "boot", 5);
  const std::string device = Introspection::getVarValue(devices.mem, devices.var, 3);
  EXPECT_NE(device.find("\"PeltDeviceName\": {\"value\":\"" + std::string(50, 'n') + "\""), std::string::npos)
      << device;
}

TEST(Catalogue, SimulatorDefaultsAreAcceptedByTheRowsOwnSetters) {
  TestPayloads payloads;
  unsigned int applied = 0;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
      const char* value = DEFAULT_VALUE_ARRAY[mem][var];
      if (row.baseType == BaseStruct) {
        EXPECT_EQ(value, nullptr) << row.name;
        continue;
      }
      ASSERT_NE(value, nullptr) << row.name;
      EXPECT_EQ(Introspection::setVarValue(mem, var, value), "") << row.name << " = " << value;
      if (row.baseType != BaseFloat) {
        EXPECT_EQ(Introspection::getVarValue(mem, var, 0), value) << row.name;
      }
      ++applied;
    }
  }
  EXPECT_EQ(applied, 933u - 41u);
  ASSERT_GT(STRUCT_DEFAULT_ARRAY_SIZE, 0u);
  for (unsigned int k = 0; k < STRUCT_DEFAULT_ARRAY_SIZE; ++k) {
    const StructFieldDefault& field = STRUCT_DEFAULT_ARRAY[k];
    const Introspection::Members members{{field.field, {field.value, false}}};
    EXPECT_EQ(Introspection::setVarValueJson(field.mem, field.var, members, static_cast<int>(field.index)), "")
        << MEMORY_ARRAY[field.mem].rows[field.var].name << "." << field.field;
  }
  RowRef devices = findRow("MemExternalDevices", "PeltDeviceList");
  const std::string first = Introspection::getVarValue(devices.mem, devices.var, 0);
  EXPECT_NE(first.find("\"PeltDeviceConnected\": { \"value\": \"true\""), std::string::npos) << first;
  RowRef level = findRow("MemApp", "AppServiceLogLevel");
  EXPECT_EQ(Introspection::getVarValue(level.mem, level.var, 0), "Warn");
  takePostedEvents();
}

}  // namespace
