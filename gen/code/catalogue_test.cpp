// The generated catalogue as the rest of the service sees it: tables, layout, events and the
// generated getters and setters working on zeroed payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "gen/code/introspection_gen.h"

namespace {

std::string text(const char* value) { return value == nullptr ? "(null)" : value; }

bool isCopy(unsigned int mem, const VariableInfo& row) { return row.memory != MEMORY_POINTER_ARRAY[mem]; }

// Bytes a row occupies in its payload.
uint32_t rowSize(const VariableInfo& row) {
  switch (row.baseType) {
    case BaseBool:
      return 1;
    case BaseString:
    case BaseBuffer:
      return static_cast<uint32_t>(std::stoul(row.arrayLength));
    case BaseStruct:
      return row.elementSize * (row.arrayLength ? static_cast<uint32_t>(std::stoul(row.arrayLength)) : 1u);
    default:
      return 4;
  }
}

TEST(Catalogue, MemoriesSegmentsAndPointersAreInTableOrder) {
  struct Memory {
    const char* name;
    uint32_t size;
    uint32_t rows;
  };
  const std::array<Memory, 20> expected{{{"MemPersistent", 1136, 140},
                                         {"MemDynamic", 432, 92},
                                         {"MemDistanceMeasure", 3588, 90},
                                         {"MemCamera", 139120, 112},
                                         {"MemStatic", 252, 11},
                                         {"MemLens", 61244, 33},
                                         {"MemLensMarkers", 15, 15},
                                         {"MemExternalDevices", 3708, 31},
                                         {"MemMotors", 684, 52},
                                         {"MemHwControl", 7232, 37},
                                         {"MemBluetooth", 520, 5},
                                         {"MemGuiLocal", 14008, 177},
                                         {"MemServiceMode", 2844, 36},
                                         {"MemDeviceState", 24, 12},
                                         {"MemMedia", 20396, 15},
                                         {"MemUserSetups", 476, 11},
                                         {"MemLensProgramming", 156, 38},
                                         {"MemTestautomation", 28, 8},
                                         {"MemDebug", 360, 1},
                                         {"MemApp", 68, 17}}};
  ASSERT_EQ(MEMORY_ARRAY_SIZE, expected.size());
  const std::array<char**, 20> pointers{
      &gMemPersistent, &gMemDynamic,         &gMemDistanceMeasure, &gMemCamera,      &gMemStatic,
      &gMemLens,       &gMemLensMarkers,     &gMemExternalDevices, &gMemMotors,      &gMemHwControl,
      &gMemBluetooth,  &gMemGuiLocal,        &gMemServiceMode,     &gMemDeviceState, &gMemMedia,
      &gMemUserSetups, &gMemLensProgramming, &gMemTestautomation,  &gMemDebug,       &gMemApp};
  unsigned int total = 0;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    const MemoryInfo& memory = MEMORY_ARRAY[mem];
    EXPECT_STREQ(memory.name, expected[mem].name);
    EXPECT_EQ(memory.payloadSize, expected[mem].size) << memory.name;
    EXPECT_EQ(memory.count, expected[mem].rows) << memory.name;
    EXPECT_EQ(SEGMENT_ARRAY[mem]->getName(), std::string("/") + expected[mem].name);
    EXPECT_EQ(SEGMENT_ARRAY[mem]->getSize(), expected[mem].size);
    EXPECT_EQ(MEMORY_POINTER_ARRAY[mem], pointers[mem]) << memory.name;
    EXPECT_EQ(*MEMORY_POINTER_ARRAY[mem], nullptr) << memory.name << " is mapped before start-up";
    total += memory.count;
  }
  EXPECT_EQ(total, 933u);
}

TEST(Catalogue, RowTypesMeetTheCountsPerMemory) {
  // bool, int, float, string, buffer, enum, struct
  const std::array<std::array<unsigned int, 7>, 20> expected{
      {{35, 19, 46, 9, 0, 29, 2}, {19, 15, 38, 3, 0, 17, 0}, {28, 12, 31, 6, 1, 11, 1}, {31, 33, 10, 7, 2, 14, 15},
       {4, 0, 0, 6, 0, 1, 0},     {19, 2, 2, 3, 0, 1, 6},    {15, 0, 0, 0, 0, 0, 0},    {12, 8, 4, 3, 0, 3, 1},
       {25, 10, 0, 0, 0, 11, 6},  {8, 19, 3, 4, 0, 1, 2},    {3, 1, 0, 0, 0, 0, 1},     {83, 36, 15, 10, 5, 26, 2},
       {13, 5, 0, 11, 0, 6, 1},   {9, 1, 0, 0, 0, 2, 0},     {6, 3, 0, 2, 0, 2, 2},     {7, 2, 0, 1, 0, 0, 1},
       {22, 3, 4, 3, 0, 6, 0},    {4, 0, 4, 0, 0, 0, 0},     {0, 0, 0, 0, 0, 0, 1},     {0, 0, 0, 0, 0, 17, 0}}};
  std::map<uint32_t, unsigned int> totals;
  unsigned int singles = 0, arrays = 0;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    std::map<uint32_t, unsigned int> counts;
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
      ++counts[row.baseType];
      ++totals[row.baseType];
      if (row.baseType == BaseStruct) ++(row.isArray ? arrays : singles);
      EXPECT_EQ(row.isArray, row.baseType == BaseString || (row.baseType == BaseStruct && row.arrayLength)) << row.name;
    }
    const std::array<unsigned int, 7> got{counts[BaseBool],   counts[BaseInt],  counts[BaseFloat], counts[BaseString],
                                          counts[BaseBuffer], counts[BaseEnum], counts[BaseStruct]};
    EXPECT_EQ(got, expected[mem]) << MEMORY_ARRAY[mem].name;
  }
  const std::array<unsigned int, 7> all{totals[BaseBool],   totals[BaseInt],  totals[BaseFloat], totals[BaseString],
                                        totals[BaseBuffer], totals[BaseEnum], totals[BaseStruct]};
  EXPECT_EQ(all, (std::array<unsigned int, 7>{343, 169, 157, 68, 8, 147, 41}));
  EXPECT_EQ(singles, 11u);
  EXPECT_EQ(arrays, 30u);
}

TEST(Catalogue, TellingRowsHaveTheirFixedPlacesTypesAndBounds) {
  struct Telling {
    const char* memory;
    const char* name;
    uint32_t baseType;
    const char* typeName;
    uint32_t offset;
    const char* min;
    const char* max;
    const char* length;
    bool isArray;
    uint32_t event;  // 0: not fixed
  };
  const std::vector<Telling> rows{
      {"MemPersistent", "AUXTorque", BaseInt, "int", 56, "1", "4", nullptr, false, 0},
      {"MemPersistent", "CircleofConfusion", BaseFloat, "float", 172, "-1e+38", "1e+38", nullptr, false, 0},
      {"MemPersistent", "RirezuveDisplayModeValue", BaseEnum, "RirezuveDisplayMode", 1132, nullptr, nullptr, nullptr,
       false, 0},
      {"MemPersistent", "ProductName", BaseString, "string", 0, nullptr, nullptr, "20", true, 0},
      {"MemPersistent", "ProductVersion", BaseString, "string", 20, nullptr, nullptr, "20", true, 0},
      {"MemStatic", "ModemVersionString", BaseString, "string", 0, nullptr, nullptr, "50", true, 0},
      {"MemGuiLocal", "UserButtonsFlags", BaseBuffer, "buffer", 688, "0", "7", "7", false, 0},
      {"MemDeviceState", "DeviceUpdateProgress", BaseInt, "int", 16, "0", "100", nullptr, false, 0},
      {"MemMotors", "FocusMotor", BaseStruct, "Motor", 0, nullptr, nullptr, nullptr, false, 0},
      {"MemCamera", "CamSpeedList", BaseStruct, "CamSpeedListStruct", 1164, nullptr, nullptr, "120", true, 0},
      {"MemExternalDevices", "PeltDeviceList", BaseStruct, "PeltDevice", 4, nullptr, nullptr, "16", true, 0},
      {"MemApp", "AppServiceLogLevel", BaseEnum, "LogLevel", 0, nullptr, nullptr, nullptr, false, 0},
      {"MemMedia", "HostUpdateFileName", BaseString, "string", 1288, nullptr, nullptr, "128", true, 898},
      {"MemMedia", "HostUpdateFileState", BaseEnum, "UpdateState", 1416, nullptr, nullptr, nullptr, false, 899},
      {"MemMedia", "HostUpdateStart", BaseBool, "bool", 1430, nullptr, nullptr, nullptr, false, 900},
      {"MemExternalDevices", "PeltUpdateDeviceName", BaseString, "string", 3396, nullptr, nullptr, "50", true, 250},
      {"MemExternalDevices", "PeltUpdateDeviceSerial", BaseInt, "int", 3448, nullptr, nullptr, nullptr, false, 251},
      {"MemExternalDevices", "PeltUpdateFileName", BaseString, "string", 3452, nullptr, nullptr, "128", true, 266},
      {"MemExternalDevices", "PeltUpdateStart", BaseBool, "bool", 3580, nullptr, nullptr, nullptr, false, 267},
      {"MemExternalDevices", "PeltUpdateProgress", BaseInt, "int", 3584, "0", "100", nullptr, false, 256},
      {"MemExternalDevices", "PeltUpdateIndex", BaseInt, "int", 3640, nullptr, nullptr, nullptr, false, 258},
      {"MemExternalDevices", "PeltUpdateCount", BaseInt, "int", 3644, nullptr, nullptr, nullptr, false, 259},
      {"MemExternalDevices", "PeltUpdateState", BaseEnum, "UpdateState", 3648, nullptr, nullptr, nullptr, false, 249},
  };
  for (const Telling& expected : rows) {
    const VariableInfo& row = findRow(expected.memory, expected.name).info();
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(row.baseType, expected.baseType);
    EXPECT_STREQ(row.typeName, expected.typeName);
    EXPECT_EQ(row.offset, expected.offset);
    EXPECT_EQ(text(row.min), text(expected.min));
    EXPECT_EQ(text(row.max), text(expected.max));
    EXPECT_EQ(text(row.arrayLength), text(expected.length));
    EXPECT_EQ(row.isArray, expected.isArray);
    if (expected.event != 0) {
      EXPECT_EQ(row.event.event, expected.event);
    }
  }
  const VariableInfo& motor = findRow("MemMotors", "FocusMotor").info();
  EXPECT_EQ(motor.elementSize, 88u);
  EXPECT_EQ(motor.fields->size(), 29u);
  EXPECT_EQ(motor.event.a, 0u);
  const VariableInfo& speeds = findRow("MemCamera", "CamSpeedList").info();
  EXPECT_EQ(speeds.elementSize, 4u);
  EXPECT_EQ(speeds.event.a, 1u);
  for (const char* name : {"ServiceMode1WireModemLabel", "ServiceMode1WireRingLabel"}) {
    EXPECT_EQ(findRow("MemServiceMode", name).info().baseType, BaseString) << name;
  }
  EXPECT_STREQ(findRow("MemServiceMode", "ServiceMode1WireModemLabel").info().arrayLength, "64");
  EXPECT_STREQ(findRow("MemServiceMode", "ServiceMode1WireRingLabel").info().arrayLength, "128");
  EXPECT_STREQ(findRow("MemServiceMode", "ServiceModeConnectedModemType").info().typeName, "ModemType");
}

TEST(Catalogue, LensMarkerRowsOfMemLensAddressTheMarkerBytes) {
  TestPayloads payloads;
  const unsigned int lens = findRow("MemLens", "ActivateLensFileName").mem;
  const unsigned int markers = findRow("MemLensMarkers", "FocusMarkerClearValue").mem;
  const MemoryInfo& lensMemory = MEMORY_ARRAY[lens];
  const MemoryInfo& markerMemory = MEMORY_ARRAY[markers];
  ASSERT_EQ(lensMemory.count, 33u);
  std::set<std::string> copied;
  for (unsigned int var = 0; var < lensMemory.count; ++var) {
    const VariableInfo& row = lensMemory.rows[var];
    if (!isCopy(lens, row)) {
      EXPECT_LT(var, 21u) << row.name << " follows the copies";
      continue;
    }
    EXPECT_GE(var, 21u) << row.name;
    RowRef original = findRow("MemLensMarkers", row.name);
    EXPECT_EQ(row.memory, &gMemLensMarkers);
    EXPECT_EQ(row.offset, original.info().offset);
    EXPECT_EQ(row.event.event, original.info().event.event);
    EXPECT_STREQ(row.typeName, "bool");
    copied.insert(row.name);

    EXPECT_EQ(Introspection::setVarValue(lens, var, "true"), "");
    EXPECT_EQ(Introspection::getVarValue(original.mem, original.var, 0), "true") << row.name;
    unsigned int mem = 0, index = 0;
    Introspection::getVarLocation(row.event, mem, index);
    EXPECT_EQ(mem, markers) << row.name << " locates to its marker row";
    EXPECT_EQ(index, original.var);
  }
  EXPECT_EQ(copied.size(), 12u);
  for (unsigned int var = 0; var < markerMemory.count; ++var) {
    const std::string name = markerMemory.rows[var].name;
    const bool zoomOnly =
        name == "LensMarkerZoomClearValue" || name == "LensMarkerZoomMaxReached" || name == "LensMarkerZoomNearMark";
    EXPECT_NE(copied.count(name), zoomOnly ? 1u : 0u) << name;
  }
  EXPECT_EQ(takePostedEvents().size(), 12u);
}

TEST(Catalogue, EveryEventHasOneNameAndVariableEventsOneRow) {
  const std::array<const char*, 6> controls{"Invalid",      "Subscribe",      "Unsubscribe",
                                            "SubscribeAll", "UnsubscribeAll", "CalibAllMotor"};
  ASSERT_EQ(EVENT_NAME_SIZE, 1061u);
  for (unsigned int number = 0; number < controls.size(); ++number) EXPECT_STREQ(EVENT_NAME[number], controls[number]);
  std::set<std::string> names;
  for (unsigned int number = 0; number < EVENT_NAME_SIZE; ++number) {
    ASSERT_NE(EVENT_NAME[number], nullptr) << number;
    EXPECT_TRUE(names.insert(EVENT_NAME[number]).second) << EVENT_NAME[number] << " is used twice";
    if (number >= controls.size()) {
      const std::string name = EVENT_NAME[number];
      EXPECT_TRUE(name.starts_with("Var") && name.ends_with("Changed")) << name;
    }
  }
  std::map<uint32_t, std::string> owners;
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
      ASSERT_LT(row.event.event, EVENT_NAME_SIZE) << row.name;
      EXPECT_GE(row.event.event, controls.size()) << row.name;
      EXPECT_EQ(std::string(EVENT_NAME[row.event.event]), std::string("Var") + row.name + "Changed");
      EXPECT_EQ(row.event.a, row.baseType == BaseStruct && row.isArray ? 1u : 0u) << row.name;
      EXPECT_EQ(row.event.b, 0u) << row.name;
      if (isCopy(mem, row)) continue;
      auto [owner, added] = owners.emplace(row.event.event, row.name);
      EXPECT_TRUE(added) << row.name << " shares event " << row.event.event << " with " << owner->second;
    }
  }
  EXPECT_EQ(owners.size(), 921u);
}

TEST(Catalogue, RowsLieAlignedInsideTheirPayloadWithoutOverlap) {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    const MemoryInfo& memory = MEMORY_ARRAY[mem];
    std::vector<std::pair<uint32_t, const VariableInfo*>> placed;
    for (unsigned int var = 0; var < memory.count; ++var) {
      const VariableInfo& row = memory.rows[var];
      if (isCopy(mem, row)) continue;
      const uint32_t size = rowSize(row);
      EXPECT_LE(row.offset + size, memory.payloadSize) << memory.name << "." << row.name;
      if (row.baseType == BaseInt || row.baseType == BaseFloat || row.baseType == BaseEnum) {
        EXPECT_EQ(row.offset % 4, 0u) << memory.name << "." << row.name;
      }
      placed.emplace_back(row.offset, &row);
    }
    std::sort(placed.begin(), placed.end());
    for (std::size_t k = 1; k < placed.size(); ++k) {
      const VariableInfo& before = *placed[k - 1].second;
      EXPECT_LE(before.offset + rowSize(before), placed[k].first)
          << memory.name << "." << placed[k].second->name << " overlaps " << before.name;
    }
  }
}

TEST(Catalogue, EnumerationsAreInTableOrderWithExactEntries) {
  ASSERT_EQ(ENUM_ARRAY_SIZE, 81u);
  EXPECT_STREQ(ENUM_ARRAY[0].name, "LogLevel");
  EXPECT_EQ(ENUM_ARRAY[0].names, LOGLEVEL_NAME_ARRAY);
  EXPECT_EQ(ENUM_ARRAY[0].count, LOGLEVEL_NAME_ARRAY_SIZE);
  EXPECT_STREQ(ENUM_ARRAY[80].name, "RirezuveDisplayMode");
  const std::map<std::string, std::pair<unsigned int, std::vector<std::string>>> telling{
      {"EditVariable", {94, {}}},
      {"CameraType", {15, {}}},
      {"SymbolPopup", {23, {}}},
      {"SymbolTypes", {1, {"Lock"}}},
      {"ScaleSide", {2, {"Slider", "Knob"}}},
      {"DisplayUnitConversion", {3, {"None", "M2Ft", "Ft2M"}}},
      {"CommandResult", {4, {"NoResult", "InProgress", "Success", "Failure"}}},
      {"ModemType", {4, {"Unknown", "Varn", "P900", "P2400"}}},
  };
  std::set<std::string> seen;
  for (unsigned int e = 0; e < ENUM_ARRAY_SIZE; ++e) {
    const EnumInfo& info = ENUM_ARRAY[e];
    EXPECT_TRUE(seen.insert(info.name).second) << info.name;
    std::set<std::string> entries(info.names, info.names + info.count);
    EXPECT_EQ(entries.size(), info.count) << info.name << " repeats an entry";
    auto expected = telling.find(info.name);
    if (expected == telling.end()) continue;
    EXPECT_EQ(info.count, expected->second.first) << info.name;
    for (std::size_t k = 0; k < expected->second.second.size(); ++k) {
      EXPECT_EQ(info.names[k], expected->second.second[k]) << info.name;
    }
  }
  const EnumInfo& speed = ENUM_ARRAY[45];
  EXPECT_STREQ(speed.name, "PlaybackSpeed");
  EXPECT_STREQ(speed.names[0], "rw64");
  EXPECT_STREQ(speed.names[13], "ffw64");
  EXPECT_EQ(UPDATESTATE_NAME_ARRAY_SIZE, 14u);
  EXPECT_STREQ(UPDATESTATE_NAME_ARRAY[13], "InProgress");
}

TEST(Catalogue, StructureFieldListsFitTheirElements) {
  struct Field {
    const char* name;
    uint32_t offset;
    const char* type;
  };
  const std::vector<Field> pelt{{"PeltDeviceConnected", 0, "bool"},
                                {"PeltId", 4, "int"},
                                {"PeltSerNumber", 8, "int"},
                                {"PeltDeviceName", 12, "string"},
                                {"PeltBootSwBootVersion", 62, "string"},
                                {"PeltMainSwVersion", 112, "string"},
                                {"PeltVarnSwVersion", 162, "string"}};
  ASSERT_EQ(PELTDEVICE_FIELD_LIST.size(), pelt.size());
  for (std::size_t k = 0; k < pelt.size(); ++k) {
    EXPECT_STREQ(PELTDEVICE_FIELD_LIST[k].name, pelt[k].name);
    EXPECT_EQ(PELTDEVICE_FIELD_LIST[k].offset, pelt[k].offset);
    EXPECT_EQ(PELTDEVICE_FIELD_LIST[k].typeName, pelt[k].type);
  }
  ASSERT_EQ(MOTOR_FIELD_LIST.size(), 29u);
  EXPECT_STREQ(MOTOR_FIELD_LIST[9].name, "State");
  EXPECT_EQ(MOTOR_FIELD_LIST[9].typeName, "MotorStatus");
  EXPECT_EQ(MOTOR_FIELD_LIST[28].offset, 84u);
  ASSERT_EQ(CDMCOORDINATES_FIELD_LIST.size(), 5u);
  EXPECT_STREQ(CDMCOORDINATES_FIELD_LIST[4].name, "CdmYNormalized");
  EXPECT_EQ(CDMCOORDINATES_FIELD_LIST[4].offset, 16u);

  auto nested = std::find_if(LENSTABLE_FIELD_LIST.begin(), LENSTABLE_FIELD_LIST.end(), [](const StructInfo& field) {
    return std::strcmp(field.name, "LensTableValueList") == 0;
  });
  ASSERT_NE(nested, LENSTABLE_FIELD_LIST.end());
  EXPECT_EQ(nested->baseType, BaseStruct);
  EXPECT_EQ(nested->typeName, "ScaleValues");
  EXPECT_STREQ(LENSTABLE_FIELD_LIST[0].name, "TableActive");

  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      const VariableInfo& row = MEMORY_ARRAY[mem].rows[var];
      if (row.baseType != BaseStruct) {
        EXPECT_EQ(row.fields, nullptr) << row.name;
        continue;
      }
      ASSERT_NE(row.fields, nullptr) << row.name;
      uint32_t previous = 0;
      for (const StructInfo& field : *row.fields) {
        EXPECT_LT(field.offset, row.elementSize) << row.typeName << "." << field.name;
        EXPECT_GE(field.offset, previous) << row.typeName << "." << field.name;
        EXPECT_EQ(field.nested, nullptr);
        previous = field.offset;
      }
    }
  }
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
