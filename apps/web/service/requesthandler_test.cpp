#include "apps/web/service/requesthandler.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"
#include "tests/unit/error_text.h"

namespace {

TEST(RequestInput, AppendJsonKeyTakesOnlyStringMembersAndSetVarsAnswersRefusedInputWithItsText) {
  const auto body = nlohmann::json::parse(R"({"ringType": "Iris", "irisValue": 2.8})");
  std::string text = "2411\n";
  RequestHandler::appendJsonKey(body, "ringType", text);
  EXPECT_EQ(text, "2411\nIris\n");
  EXPECT_NE(testsupport::errorOf([&] {
              RequestHandler::appendJsonKey(body, "focusCloseValue", text);
            }).find("Key: 'focusCloseValue' is missing"),
            std::string::npos);
  EXPECT_THROW(RequestHandler::appendJsonKey(body, "irisValue", text), nlohmann::json::type_error);
  EXPECT_THROW(RequestHandler::appendJsonKey(nlohmann::json::array({"ringType"}), "ringType", text),
               std::runtime_error);
  EXPECT_EQ(text, "2411\nIris\n");

  TestPayloads segments;
  const auto attempt = [](const std::string& input) {
    std::stringstream errors;
    const bool ok = RequestHandler::setVars(input, errors);
    return std::pair{ok, errors.str()};
  };
  EXPECT_EQ(attempt("{'MemPersistent':{'AUX Torque':3}}"), std::pair(false, std::string("JSON parse error at 6.\r\n")));
  for (const char* body :
       {"", "{}", "{'MemPersistent':5}", "{'MemPersistent':{}}", "{'MemPersistent':[]}",
        "{'MemPersistent':{'NoSuchVar':1}}", "{'NoSuchMem':{'AUXTorque':1}}", "{'memPersistent':{'AUXTorque':1}}",
        "{'MemCamera':{'CamSpeedList':{'Index':'two','Speed':1}}}",
        "{'MemCamera':{'CamSpeedList':{'Index':99999999999,'Speed':1}}}"})
    EXPECT_EQ(attempt(body), std::pair(false, std::string())) << body;

  EXPECT_EQ(attempt("{'MemPersistent':{'BluetoothPower':'maybe'}}"),
            std::pair(false, std::string("Value has to be 'true' or 'false'")));

  // An unchanged value is stored without announcing anything, so no broker is needed here.
  storeBytes("MemPersistent", "AUXTorque", int32_t{3});
  EXPECT_EQ(attempt("{'MemPersistent':{'AUXTorque':'3'}}"), std::pair(true, std::string()));
  EXPECT_EQ(attempt("{\"MemPersistent\":{\"AUXTorque\":3}}"), std::pair(true, std::string()));

  *MEMORY_POINTER_ARRAY[0] = nullptr;
  EXPECT_EQ(attempt("{'MemPersistent':{'AUXTorque':2}}"), std::pair(false, std::string("n/a")));
}

TEST(Rendering, FailedValueBecomesErrorObjectOneValueIsAnElementAndTheTreeIsOneLine) {
  TestPayloads segments;
  // An enumeration value beyond its entries is rendered by the row's getter, made to fail here.
  const RowRef level = findRow("MemApp", "AppServiceLogLevel");
  VariableInfo& row = const_cast<VariableInfo&>(level.info());
  level.store(uint32_t{99});
  const VariableGetter getter = row.getter;
  row.getter = [](void*, int) -> std::string { throw std::runtime_error("bad \"text\" \xff\n"); };
  std::string value;
  RequestHandler::printVariable(level.mem, level.var, value);
  std::string tree;
  RequestHandler::createJsonTree(tree);
  row.getter = getter;
  EXPECT_EQ(value, "{\"error\": \"bad \\\"text\\\" \xef\xbf\xbd\\n\"}");
  EXPECT_NE(tree.find("\"AppServiceLogLevel\" : " + value), std::string::npos);
  EXPECT_TRUE(nlohmann::json::accept("{" + tree + "}"));

  const RowRef speeds = findRow("MemCamera", "CamSpeedList");
  std::string whole;
  RequestHandler::printVariable(speeds.mem, speeds.var, whole);
  const nlohmann::json elements = nlohmann::json::parse(whole);
  for (int index : {0, 119}) {
    std::string one;
    RequestHandler::printValue(speeds.mem, speeds.var, one, index);
    EXPECT_EQ(nlohmann::json::parse(one), elements.at(index));
  }
  std::string outside;
  RequestHandler::printValue(speeds.mem, speeds.var, outside, 120);
  EXPECT_EQ(outside, R"({"error": "Index exceeds limit"})");
  EXPECT_EQ(RequestHandler::encodeString("a\"\\\r\n\xff"), "a\\\"\\\\\\r\\n\xef\xbf\xbd");

  // The whole tree is one line, and sending what the stream holds between variables leaves it unchanged.
  tree.clear();
  RequestHandler::createJsonTree(tree);
  EXPECT_EQ(tree.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(tree.rfind("\"MemPersistent\" : {\"", 0), 0u);
  std::string sent;
  std::string pending;
  unsigned int flushes = 0;
  RequestHandler::createJsonTree(pending, [&] {
    ++flushes;
    sent += pending;
    pending.clear();
  });
  EXPECT_EQ(flushes, 933u);
  EXPECT_EQ(sent + pending, tree);
}

}  // namespace
