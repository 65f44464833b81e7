#include "apps/common/introspection/structs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection_enum/introspection_enum.h"

namespace {
using Members = Introspection::Members;

Members member(const std::string& name, const std::string& value) { return {{name, {value, false}}}; }

const StructInfo& fieldOf(const RowRef& row, const std::string& name) {
  for (const StructInfo& field : *row.info().fields) {
    if (name == field.name) return field;
  }
  throw std::invalid_argument("no field " + name);
}

std::string entryName(const char* enumName, unsigned int k) {
  return IntrospectionEnum::getEnumEntryName(IntrospectionEnum::getEnumIndex(enumName), k);
}

class Structures : public ::testing::Test {
 protected:
  TestPayloads payloads;
  const RowRef cdm = findRow("MemDistanceMeasure", "CdmCoordinatesList");
  const RowRef motor = findRow("MemMotors", "FocusMotor");
  const RowRef buttons = findRow("MemCamera", "CamUserButtons");

  // The whole payload of the row's memory.
  static std::vector<char> bytes(const RowRef& row) {
    const char* payload = *row.info().memory;
    return {payload, payload + MEMORY_ARRAY[row.mem].payloadSize};
  }
  static std::string write(const RowRef& row, const Members& members, int index) {
    return Introspection::setVarValueJson(row.mem, row.var, members, index);
  }
};

constexpr const char* kIntBounds = R"("max":"2147483647","min":"-2147483648","type":"int")";
constexpr const char* kFloatBounds = R"("max":"1e+38","min":"-1e+38","type":"float")";
}  // namespace

TEST_F(Structures, GetterWritesEachFieldKindWithItsOwnSpacing) {
  const float half = 0.5f;
  const int32_t valid = 1;
  char* element = cdm.address() + 2 * cdm.info().elementSize;
  std::memcpy(element, &valid, 4);
  for (int offset : {4, 8, 12, 16}) std::memcpy(element + offset, &half, 4);
  const std::string expected =
      std::string("{\"CdmValid\": {") + kIntBounds + R"(,"value":"1"},"CdmX": {)" + kFloatBounds +
      R"(,"value":"0.500000"},"CdmY": {)" + kFloatBounds + R"(,"value":"0.500000"},"CdmXNormalized": {)" +
      kFloatBounds + R"(,"value":"0.500000"},"CdmYNormalized": {)" + kFloatBounds + R"(,"value":"0.500000"}})";
  EXPECT_EQ(cdm.get(2), expected);

  const std::string motorText = motor.get();
  EXPECT_EQ(motorText.rfind(R"({"CalActive": { "value": "false", "type": "bool", "textid": [ "false", "true" ]},)", 0),
            0u);
  EXPECT_NE(motorText.find(R"("State":  { "value": ")" + entryName("MotorStatus", 0) +
                           R"(", "type": "MotorStatus", "textid": [ ")"),
            std::string::npos)
      << motorText;

  // A stored enumeration value outside its entries reads as invalid, not as a failure.
  const uint32_t invalid = 1000;
  std::memcpy(motor.address() + fieldOf(motor, "State").offset, &invalid, 4);
  EXPECT_NE(motor.get().find(R"("State":  { "value": "INVALID_VALUE: 1000", "type": "MotorStatus")"),
            std::string::npos);
}

TEST_F(Structures, StringFieldsAreNeverReadOrWrittenPastTheirField) {
  const uint32_t capacity = 52;  // the label is the first field, the next one starts at 52
  const std::string name = "\"CamUserButtonLabel\": {\"value\":\"";
  // A long text is cut to leave room for the terminator; whatever follows the field keeps its bytes.
  char* field = buttons.address() + 4 * buttons.info().elementSize;
  std::memset(field, 'z', capacity + 1);
  ASSERT_EQ(write(buttons, member("CamUserButtonLabel", std::string(capacity + 10, 'k')), 4), "");
  EXPECT_EQ(std::string(field), std::string(capacity - 1, 'k'));
  EXPECT_EQ(field[capacity], 'z');

  // A field another process left without terminator is read up to its end only.
  std::memset(field, 'q', capacity);
  EXPECT_NE(buttons.get(4).find(name + std::string(capacity, 'q') + "\", \"type\": \"string\" }"), std::string::npos);
}

TEST_F(Structures, SetJsonWritesOneFieldOfOneElementAndAnnouncesThatElement) {
  std::vector<char> expected = bytes(cdm);
  takePostedEvents();
  EXPECT_EQ(write(cdm, {{"MemDistanceMeasure", {"{...}", true}}, {"Index", {"3", false}}, {"CdmX", {"1.5", false}}}, 3),
            "");
  const float stored = 1.5f;
  std::memcpy(expected.data() + cdm.info().offset + 3 * 20 + 4, &stored, 4);
  EXPECT_EQ(bytes(cdm), expected);
  EXPECT_EQ(takePostedEvents(), (std::vector<Notify>{Notify{cdm.info().event.event, 1, 3}}));
  EXPECT_EQ(Introspection::getVarEvent(cdm.mem, cdm.var).b, 3u);
}

TEST_F(Structures, SetJsonAnnouncesOnlyChangesExceptForStrings) {
  const struct {
    const char* field;
    std::string value;
    uint32_t stored;
  } writes[] = {{"ActPosition", "0x20", 32}, {"State", entryName("MotorStatus", 1), 1}};
  for (const auto& w : writes) {
    EXPECT_EQ(write(motor, member(w.field, w.value), 0), "");
    EXPECT_EQ(takePostedEvents(), std::vector<Notify>{motor.info().event}) << w.field;
    EXPECT_EQ(write(motor, member(w.field, w.value), 0), "");
    EXPECT_TRUE(takePostedEvents().empty()) << w.field;
    uint32_t stored;
    std::memcpy(&stored, motor.address() + fieldOf(motor, w.field).offset, 4);
    EXPECT_EQ(stored, w.stored) << w.field;
  }

  // Bool fields compare truth values: a stored 2 already is true, anything but "true" is false.
  char* calActive = motor.address() + fieldOf(motor, "CalActive").offset;
  *calActive = 2;
  EXPECT_EQ(write(motor, member("CalActive", "true"), 0), "");
  EXPECT_EQ(*calActive, 2);
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(write(motor, member("CalActive", "TRUE"), 0), "");
  EXPECT_EQ(*calActive, 0);
  EXPECT_EQ(takePostedEvents().size(), 1u);

  const Notify element{buttons.info().event.event, 1, 2};
  EXPECT_EQ(write(buttons, member("CamUserButtonLabel", "same"), 2), "");
  EXPECT_EQ(write(buttons, member("CamUserButtonLabel", "same"), 2), "");
  EXPECT_EQ(takePostedEvents(), (std::vector<Notify>{element, element}));
}

TEST_F(Structures, SetJsonIgnoresWhatItCannotWriteAndRefusesElementsOutsideTheVariable) {
  const std::vector<char> cdmBefore = bytes(cdm);
  const std::vector<char> motorBefore = bytes(motor);
  takePostedEvents();

  EXPECT_EQ(write(motor, member("NoSuchField", "1"), 0), "");
  EXPECT_EQ(write(motor, member("actposition", "1"), 0), "");
  EXPECT_EQ(write(motor, member("State", "no such entry"), 0), "");
  EXPECT_EQ(write(motor, {}, 0), "");
  EXPECT_THROW(write(motor, member("ActPosition", "x1"), 0), std::invalid_argument);
  EXPECT_THROW(write(motor, member("RealLowerLimit", "1e-50"), 0), std::out_of_range);

  for (int index : {-1, 128, 1000000}) EXPECT_EQ(write(cdm, member("CdmValid", "5"), index), "Index exceeds limit");
  EXPECT_EQ(write(motor, member("ActPosition", "5"), 1), "Index exceeds limit");
  EXPECT_EQ(write(cdm, member("CdmValid", "5"), 127), "");
  EXPECT_EQ(takePostedEvents().size(), 1u);
  std::vector<char> cdmAfter = bytes(cdm);
  std::memset(cdmAfter.data() + cdm.info().offset + 127 * 20, 0, 4);
  EXPECT_EQ(cdmAfter, cdmBefore);
  EXPECT_EQ(bytes(motor), motorBefore);
}

TEST_F(Structures, WholeValuesAreCopiedBytewiseToTheElementTheEventNames) {
  // An array element is the one argument b names, as left by the last field write.
  std::vector<char> point(cdm.info().elementSize, '\x11');
  takePostedEvents();
  ASSERT_EQ(write(cdm, member("NoSuchField", ""), 5), "");
  EXPECT_EQ(cdm.set(point.data()), "");
  EXPECT_EQ(std::memcmp(cdm.address() + 5 * 20, point.data(), 20), 0);
  EXPECT_EQ(cdm.address()[4 * 20 + 19], 0);
  EXPECT_EQ(cdm.address()[6 * 20], 0);
  EXPECT_EQ(takePostedEvents(), (std::vector<Notify>{Notify{cdm.info().event.event, 1, 5}}));

  const std::vector<char> before = bytes(cdm);
  ASSERT_EQ(write(cdm, member("CdmValid", "1"), 128), "Index exceeds limit");
  EXPECT_EQ(cdm.set(point.data()), "Index exceeds limit");
  EXPECT_EQ(bytes(cdm), before);
  EXPECT_TRUE(takePostedEvents().empty());
}
