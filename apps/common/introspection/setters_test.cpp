#include "apps/common/introspection/setters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/structs.h"
#include "apps/common/introspection/testcatalogue.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "tests/unit/kernel_log_capture.h"

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

  static std::vector<char> bytes(const RowRef& row) {
    const char* payload = *row.info().memory;
    return {payload, payload + MEMORY_ARRAY[row.mem].payloadSize};
  }
  // The pair list of a set request: memory and variable, each holding an object, then the fields.
  static std::string write(const RowRef& row, const Members& fields, int index) {
    Members members{{MEMORY_ARRAY[row.mem].name, {"{...}", true}}, {row.info().name, {"{...}", true}}};
    members.insert(members.end(), fields.begin(), fields.end());
    return Introspection::setVarValueJson(row.mem, row.var, members, index);
  }
};

constexpr const char* kIntBounds = R"("max":"2147483647","min":"-2147483648","type":"int")";
constexpr const char* kFloatBounds = R"("max":"1e+38","min":"-1e+38","type":"float")";
using Setters = Structures;  // the scalar rows need the payloads only
}  // namespace

TEST_F(Structures, GetterWritesEachFieldKindWithItsOwnSpacingAndNestedArraysAndStringsWithinTheirField) {
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
  EXPECT_TRUE(
      motorText.starts_with(R"({"CalActive": { "value": "false", "type": "bool", "textid": [ "false", "true" ]},)"));
  EXPECT_NE(motorText.find(R"("State":  { "value": ")" + entryName("MotorStatus", 0) + R"(", "type": "MotorStatus")"),
            std::string::npos);

  // A stored enumeration value outside its entries reads as invalid, not as a failure.
  std::memset(motor.address() + fieldOf(motor, "State").offset, 0xff, 1);
  EXPECT_NE(motor.get().find(R"("State":  { "value": "INVALID_VALUE: 255", "type": "MotorStatus")"), std::string::npos);

  // Nested arrays of structures and one-byte fields, which the structures above do not have.
  const std::string lensTable = findRow("MemLens", "LensTableZoom").get();
  std::size_t scales = 0;
  for (std::size_t at = 0; (at = lensTable.find("\"ScalePosition\"", at)) != std::string::npos; ++at) ++scales;
  EXPECT_EQ(scales, 256u);
  EXPECT_NE(findRow("MemMotors", "ZoomMotor").get().find("\"GearTeethAct\": {\"max\":\"255\""), std::string::npos);

  // String fields are never read or written past their field.
  // A long text is cut to leave room for the terminator; whatever follows the field keeps its bytes.
  const uint32_t capacity = 52;  // the label is the first field, the next one starts at 52
  char* field = buttons.address() + 4 * buttons.info().elementSize;
  std::memset(field, 'z', capacity + 1);
  ASSERT_EQ(write(buttons, member("CamUserButtonLabel", std::string(capacity + 10, 'k')), 4), "");
  EXPECT_EQ(std::string(field), std::string(capacity - 1, 'k'));
  EXPECT_EQ(field[capacity], 'z');

  // A field another process left without terminator is read up to its end only.
  std::memset(field, 'q', capacity);
  EXPECT_NE(buttons.get(4).find("\"CamUserButtonLabel\": {\"value\":\"" + std::string(capacity, 'q') + "\", \"type\""),
            std::string::npos);
}

TEST_F(Structures, SetJsonFindsItsFieldsWhereverTheyStandAndAnnouncesOnlyChangesButStringsAlways) {
  std::vector<char> expected = bytes(cdm);
  // Key-sorting JSON writers put the index after the fields.
  EXPECT_EQ(write(cdm, {{"CdmX", {"1.5", false}}, {"Index", {"3", false}}}, 3), "");
  const float stored = 1.5f;
  std::memcpy(expected.data() + cdm.info().offset + 3 * 20 + 4, &stored, 4);
  EXPECT_EQ(bytes(cdm), expected);
  EXPECT_EQ(takePostedEvents(), (std::vector<Notify>{Notify{cdm.info().event.event, 1, 3}}));

  // Several fields in one write all land.
  EXPECT_EQ(write(cdm, {{"Index", {"3", false}}, {"CdmValid", {"1", false}}, {"CdmY", {"1.5", false}}}, 3), "");
  expected[cdm.info().offset + 3 * 20] = 1;
  std::memcpy(expected.data() + cdm.info().offset + 3 * 20 + 8, &stored, 4);
  EXPECT_EQ(bytes(cdm), expected);
  EXPECT_EQ(takePostedEvents().size(), 2u);

  // Only changes are announced, except for strings.
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

TEST_F(Structures, SetJsonRefusesWhatItCannotWriteNamingItAndWritesNothingAndWholeValuesGoToTheNamedElement) {
  const std::vector<char> cdmBefore = bytes(cdm);
  const std::vector<char> motorBefore = bytes(motor);

  // Every refusal comes before any store: a good field beside a bad member stays unwritten.
  const Members position = member("ActPosition", "5");
  const struct {
    Members::value_type bad;
    const char* answer;
  } refusals[] = {{{"NoSuchField", {"1", false}}, "Motor has no field \"NoSuchField\""},
                  {{"actposition", {"1", false}}, "Motor has no field \"actposition\""},
                  {{"State", {"no such entry", false}}, "no such entry is not part of enum MotorStatus"},
                  {{"GearTeethAct", {"x1", false}}, "Can't convert x1 to int"},
                  {{"RealLowerLimit", {"1e-50", false}}, "Can't convert 1e-50 to float"},
                  {{"CalActive", {"{'a':1}", true}}, "Field \"CalActive\" takes a single value"}};
  for (const auto& r : refusals) EXPECT_EQ(write(motor, {position[0], r.bad}, 0), r.answer);
  EXPECT_EQ(write(findRow("MemLens", "LensTableZoom"), member("LensTableValueList", "1"), 0),
            "Field \"LensTableValueList\" of LensTable can't be written");
  EXPECT_EQ(write(motor, {}, 0), "No field of Motor to write");
  EXPECT_EQ(write(cdm, member("Index", "2"), 2), "No field of CdmCoordinates to write");
  // The variable itself given a plain value, or not given at all.
  EXPECT_EQ(Introspection::setVarValueJson(motor.mem, motor.var, {{"FocusMotor", {"5", false}}}, 0),
            "FocusMotor takes an object of its fields");
  EXPECT_EQ(Introspection::setVarValueJson(motor.mem, motor.var, position, 0),
            "FocusMotor takes an object of its fields");

  EXPECT_EQ(write(motor, member("ActPosition", "5"), 1), "Index exceeds limit");
  for (int index : {-1, 1000000, 128}) EXPECT_EQ(write(cdm, member("CdmValid", "5"), index), "Index exceeds limit");
  // A whole value goes to the element the last field write named, so not after a refused index.
  std::vector<char> point(cdm.info().elementSize, '\x11');
  EXPECT_EQ(cdm.set(point.data()), "Index exceeds limit");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(bytes(cdm), cdmBefore);
  EXPECT_EQ(bytes(motor), motorBefore);

  EXPECT_EQ(write(cdm, member("CdmValid", "5"), 127), "");
  ASSERT_EQ(write(cdm, member("CdmValid", "0"), 5), "");
  EXPECT_EQ(cdm.set(point.data()), "");
  std::vector<char> expected = cdmBefore;
  const int32_t five = 5;
  std::memcpy(expected.data() + cdm.info().offset + 127 * 20, &five, 4);
  std::memcpy(expected.data() + cdm.info().offset + 5 * 20, point.data(), 20);
  EXPECT_EQ(bytes(cdm), expected);
  const uint32_t event = cdm.info().event.event;
  EXPECT_EQ(takePostedEvents(), (std::vector<Notify>{{event, 1, 127}, {event, 1, 5}}));
}

TEST_F(Setters, IntConvertsLikeStoiWithItsBaseFromThePrefixAnnouncesOnlyChangesAndFollowsArgumentA) {
  const RowRef row = findRow("MemPersistent", "AUXTorque");
  const struct {
    const char* text;
    int32_t stored;
  } accepted[] = {{"0x10", 16},
                  {"010", 8},
                  {"12abc", 12},
                  {"-2147483648", std::numeric_limits<int32_t>::min()},
                  {"9", 9}};  // bounds are for display only
  for (const auto& c : accepted) {
    EXPECT_EQ(row.set(c.text), "") << c.text;
    EXPECT_EQ(row.load<int32_t>(), c.stored) << c.text;
  }
  takePostedEvents();
  for (const char* text : {"x7", "2147483648", ""}) {
    row.store<int32_t>(3);
    EXPECT_EQ(row.set(text), std::string("Can't convert ") + text + " to int");
    EXPECT_EQ(row.load<int32_t>(), 3) << text;
  }
  EXPECT_EQ(row.set("3"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(row.set("5"), "");
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{row.info().event});

  // An event with argument a of 1 writes element b; any other a stores nothing and is not an error.
  char* payload = *row.info().memory;
  const Notify element{row.info().event.event, 1, 2};
  EXPECT_EQ(setIntIntrospection(payload, row.mem, row.var, element, "77"), "");
  EXPECT_EQ((std::pair{row.load<int32_t>(0), row.load<int32_t>(2)}), std::pair(5, 77));
  EXPECT_EQ(getIntIntrospection(row.address(), 2), "77");
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{element});
  const std::vector<char> before(row.address(), row.address() + 16);
  const Notify other{row.info().event.event, 2, 0};
  EXPECT_EQ(setIntIntrospection(payload, row.mem, row.var, other, "5") +
                setFloatIntrospection(payload, row.mem, row.var, other, "5") +
                setBoolIntrospection(payload, row.mem, row.var, other, "true"),
            "");
  EXPECT_EQ(std::vector<char>(row.address(), row.address() + 16), before);
  EXPECT_TRUE(takePostedEvents().empty());
}

TEST_F(Setters, FloatConvertsLikeStofAnnouncesByteChangesAndBoolTakesExactlyTrueOrFalse) {
  const RowRef row = findRow("MemPersistent", "CircleofConfusion");
  EXPECT_EQ(row.set("0"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  // Bytewise: -0 differs from 0 and is announced; the same NaN again is not.
  EXPECT_EQ(row.set("-0"), "");
  EXPECT_EQ(takePostedEvents().size(), 1u);
  EXPECT_EQ(row.set("nan"), "");
  EXPECT_EQ(row.set("nan"), "");
  EXPECT_EQ(takePostedEvents().size(), 1u);
  EXPECT_EQ(row.set("1e38"), "");
  EXPECT_EQ(row.get(), "99999996802856924650656260769173209088.000000");
  row.store<float>(1.0f);
  for (const char* text : {"1e39", "abc"}) {
    EXPECT_EQ(row.set(text), std::string("Can't convert ") + text + " to float");
    EXPECT_EQ(row.load<float>(), 1.0f) << text;
  }
  EXPECT_EQ(takePostedEvents().size(), 1u);  // "1e38" only

  const RowRef flag = findRow("MemLensMarkers", "FocusMarkerClearValue");
  for (const char* text : {"True", "1", "true "})
    EXPECT_EQ(flag.set(text), "Value has to be 'true' or 'false'") << text;
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(flag.get(), "false");
  // A stored 2 reads as true and is rewritten to 1.
  *flag.address() = 2;
  EXPECT_EQ(flag.get(), "true");
  EXPECT_EQ(flag.set("true"), "");
  EXPECT_EQ(static_cast<int>(*flag.address()), 1);
  EXPECT_EQ(flag.set("false"), "");
  EXPECT_EQ(static_cast<int>(*flag.address()), 0);
  EXPECT_EQ(takePostedEvents().size(), 2u);
}

TEST_F(Setters, StringIsCutToItsCapacityTextArraysAnnounceOnlyAChangeAndBuffersReadHexPairs) {
  const RowRef row = findRow("MemStatic", "ModemVersionString");
  std::memset(row.address(), 'z', 51);  // includes the first byte after the field

  EXPECT_EQ(row.set("v1.2"), "");
  EXPECT_EQ(row.get(), "v1.2");
  EXPECT_EQ(row.address()[5], 'z');  // bytes after the terminator keep their contents
  EXPECT_EQ(takePostedEvents().size(), 1u);

  const std::string longText(80, 'a');
  EXPECT_EQ(row.set(longText.c_str()), "");
  EXPECT_EQ(row.get(), std::string(49, 'a'));
  EXPECT_EQ(row.address()[49], '\0');
  EXPECT_EQ(row.address()[50], 'z');
  EXPECT_EQ(takePostedEvents().size(), 1u);

  // A value another process left without terminator is read up to the field's end only.
  std::memset(row.address(), 'q', 50);
  EXPECT_EQ(row.get(), std::string(50, 'q'));

  // The setter of the loop's own text arrays compares within their bytes and cuts to fit.
  std::array<char, 8> target{};
  std::strcpy(target.data(), "abc");
  setVariable(target, Notify{9, 0, 0}, "abc");
  EXPECT_TRUE(takePostedEvents().empty());
  setVariable(target, Notify{9, 0, 0}, "abcdefghij");
  EXPECT_STREQ(target.data(), "abcdefg");
  EXPECT_EQ(takePostedEvents().size(), 1u);

  // A target without terminator is never read past its end and is rewritten.
  target.fill('x');
  setVariable(target, Notify{9, 0, 0}, "xxxxxxxx");
  EXPECT_STREQ(target.data(), "xxxxxxx");
  EXPECT_EQ(takePostedEvents().size(), 1u);

  // A buffer reads hex pairs and keeps what was stored before a bad digit.
  const RowRef buffer = findRow("MemGuiLocal", "KnobAssignmentFlags");
  const struct {
    const char* text;
    std::string answer;
    std::array<uint8_t, 3> stored;
  } cases[] = {
      {"A0ff", "", {0xa0, 0xff, 0x55}},
      {"abc", "", {0xab, 0xc0, 0x55}},
      {"0102ff", "", {0x01, 0x02, 0x55}},  // at most the buffer's bytes
      {"0g12", "Can't convert 0g12 to buffer", {0x55, 0x55, 0x55}},
      {"120g", "Can't convert 0g to buffer", {0x12, 0x55, 0x55}},
      {"-1", "Can't convert -1 to buffer", {0x55, 0x55, 0x55}},
  };
  for (const auto& c : cases) {
    std::memset(buffer.address(), 0x55, 3);
    takePostedEvents();
    const std::size_t logged = testsupport::kernelLogText().size();
    EXPECT_EQ(buffer.set(c.text), c.answer) << c.text;
    const std::string line = testsupport::kernelLogSince(logged);
    const std::string bad = std::string(" Not a valid hex digit: ") + (c.text[0] == '-' ? '-' : 'g') + "\n";
    EXPECT_EQ(line.empty(), c.answer.empty()) << line;
    EXPECT_TRUE(line.empty() || (line.find("Error       ") != line.npos && line.find(bad) != line.npos)) << line;
    EXPECT_EQ((buffer.load<std::array<uint8_t, 3>>()), c.stored) << c.text;
    EXPECT_EQ(takePostedEvents().size(), c.answer.empty() ? 1u : 0u) << c.text;
  }
}

TEST_F(Setters, EnumerationsAreLookedUpTheGetterNamesTheEntryAndTheSetterTakesExactNamesAnnouncingOnlyAChange) {
  const unsigned int count = IntrospectionEnum::getEnumCount();
  EXPECT_EQ(failureMessage([] { IntrospectionEnum::getEnumIndex("loglevel"); }), "Unknown enum \"loglevel\"");
  for (const auto& action : std::initializer_list<std::function<void()>>{
           [count] { IntrospectionEnum::getEnumName(count); }, [count] { IntrospectionEnum::getEnumEntryCount(count); },
           [count] { IntrospectionEnum::getEnumEntryName(count, 0); },
           [] { IntrospectionEnum::getEnumEntryName(IntrospectionEnum::getEnumIndex("LogLevel"), 8); }})
    EXPECT_EQ(failureMessage(action), "Index exceeds limit");
  const RowRef level = findRow("MemApp", "AppServiceLogLevel");
  level.store<uint32_t>(6);
  EXPECT_EQ(level.get(), "Warn");
  const std::size_t logged = testsupport::kernelLogText().size();
  level.store<uint32_t>(8);
  EXPECT_EQ(level.get(), "INVALID_VALUE: 8");
  // Reported where the enumeration's getter is, in the generated catalogue.
  const std::string line = testsupport::kernelLogSince(logged);
  EXPECT_TRUE(line.find("Error       ") != line.npos && line.find("introspection_gen.cpp:") != line.npos &&
              line.find(" Value 8 of enum LogLevel is above number of entries (8)\n") != line.npos)
      << line;
  level.store<uint32_t>(0xffffffffu);
  EXPECT_EQ(level.get(), "INVALID_VALUE: 4294967295");
  EXPECT_EQ(Introspection::getVarMax(level.mem, level.var), "7");

  level.store<uint32_t>(6);
  EXPECT_EQ(level.set("Warn"), "");
  EXPECT_TRUE(takePostedEvents().empty());
  EXPECT_EQ(level.set("Error"), "");
  EXPECT_EQ(takePostedEvents(), std::vector<Notify>{level.info().event});
  for (const char* text : {"warn", "6", "", "Error "})
    EXPECT_EQ(level.set(text), std::string(text) + " is not part of enum LogLevel");
  EXPECT_EQ(level.load<uint32_t>(), 7u);
  EXPECT_TRUE(takePostedEvents().empty());

  // A stored value outside the enumeration is replaced by a valid one.
  level.store<uint32_t>(200);
  EXPECT_EQ(level.set("DebugAll"), "");
  EXPECT_EQ(level.load<uint32_t>(), 0u);
  EXPECT_EQ(takePostedEvents().size(), 1u);
}
