// The variable API of the running service inside the unit sandbox, through our own FastCGI client.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/integration/sandbox_harness.h"
#include "tests/integration/variable_api_support.h"

namespace {

const std::string kHead = "Content-type: application/json\r\n\r\n";
const std::string kFailed = "{\"result\": 0, \"error\": \"\" }";

TEST(VariableApi, WholeStateFramingOrderAndRequestLine) {
  Sandbox unit;
  auto client = connectService(unit);
  const fcgiclient::Params params = {{"SCRIPT_NAME", "/api/v1/all.cgi"},
                                     {"SCRIPT_FILENAME", "/www/api/v1/all.cgi"},
                                     {"REMOTE_ADDR", "10.0.0.7"},
                                     {"SERVER_ADDR", "10.0.0.1"},
                                     {"HTTP_USER_AGENT", "probe/1.0"}};
  for (uint16_t id : {5, 9}) {
    const auto reply = client->request(params, "", true, id);
    ASSERT_TRUE(reply.ended);
    const std::string& text = reply.stdoutText;
    const std::string start =
        kHead + "{\r\n\"id\": " + std::to_string(id) + ",\r\n\"variables\": {\"MemPersistent\" : {\"";
    ASSERT_EQ(text.substr(0, start.size()), start);
    ASSERT_EQ(text.substr(text.size() - 4), "}}\r\n");
    const auto document = nlohmann::ordered_json::parse(text.substr(kHead.size()));
    EXPECT_EQ(document["id"], id);
    std::vector<std::string> memories;
    size_t rows = 0;
    for (const auto& [name, variables] : document["variables"].items()) {
      memories.push_back(name);
      rows += variables.size();
    }
    ASSERT_EQ(memories.size(), 20u);
    EXPECT_EQ(memories.front(), "MemPersistent");
    EXPECT_EQ(memories[13], "MemDeviceState");
    EXPECT_EQ(memories.back(), "MemApp");
    EXPECT_EQ(rows, 933u);
  }
  EXPECT_TRUE(unit.waitForKmsg("Request /www/api/v1/all.cgi from 10.0.0.7 to 10.0.0.1 by probe/1.0"));
}

TEST(VariableApi, UnknownScriptsAreAnsweredAndNamed) {
  Sandbox unit;
  auto client = connectService(unit);
  EXPECT_EQ(call(*client, "", ""), "{\"result\": 0, \"error\": \"Unknown script: ''\" }");
  EXPECT_EQ(call(*client, "/a\"b\\c", ""), "{\"result\": 0, \"error\": \"Unknown script: '/a\\\"b\\\\c'\" }");
  EXPECT_TRUE(unit.waitForKmsg("Unknown script: ''"));
}

TEST(VariableApi, WritesAnswerExactlyAndTheServiceGoesOn) {
  Sandbox unit;
  auto client = connectService(unit);
  EXPECT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}"), "{\"result\": 1 }");
  EXPECT_EQ(wholeState(*client)["variables"]["MemPersistent"]["AUXTorque"],
            nlohmann::json::parse(R"({"max":"4","min":"1","type":"int","value":"3"})"));
  EXPECT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':'3'}}"), "{\"result\": 1 }");
  EXPECT_EQ(call(*client, kSet, "x"), "{\"result\": 0, \"error\": \"JSON parse error at 0.\\r\\n\" }");
  EXPECT_EQ(call(*client, kSet, "{'MemPersistent':{'BluetoothPower':'maybe'}}"),
            "{\"result\": 0, \"error\": \"Value has to be 'true' or 'false'\" }");
  for (const char* body : {"", "{}", "{'MemPersistent':5}", "{'MemPersistent':{}}", "{'MemPersistent':{'NoSuchVar':1}}",
                           "{'NoSuchMem':{'AUXTorque':1}}", "{'MemCamera':{'CamSpeedList':{'Index':'two','x':1}}}"})
    EXPECT_EQ(call(*client, kSet, body), kFailed) << body;
  // Still serving after all of them, on the same connection.
  EXPECT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':4}}"), "{\"result\": 1 }");
}

TEST(VariableApi, EveryRequestOnAConnectionOfItsOwnIsAnswered) {
  // Many fronts open a connection per request and let the service close it after the answer; a
  // finished request must not hold one of the table's places until it is deleted.
  Sandbox unit;
  connectService(unit);
  int unanswered = 0;
  for (int i = 0; i < 500; ++i) {
    fcgiclient::FcgiClient client(unit.connectTcp(9000));
    const auto reply = client.request({{"SCRIPT_NAME", kSet}}, "{'MemPersistent':{'AUXTorque':3}}", false, 1);
    if (!reply.ended || reply.stdoutText != kHead + "{\"result\": 1 }" || !client.closedByPeer(1000)) ++unanswered;
  }
  EXPECT_EQ(unanswered, 0);
}

TEST(VariableApi, OneBrokerRecordPerRealChangeAndVariableLogging) {
  Sandbox unit;
  auto client = connectService(unit);
  ASSERT_EQ(call(*client, kSet, "{'MemStatic':{'VariableLogging':true}}"), "{\"result\": 1 }");
  ASSERT_TRUE(unit.waitForKmsg("MemStatic.VariableLogging: "));
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  // The line renders the value when the record comes back, so the next change waits for it.
  ASSERT_TRUE(
      unit.waitForKmsg("MemPersistent.AUXTorque: {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"2\"}"));
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':4}}"), "{\"result\": 1 }");
  const std::string last = "MemPersistent.AUXTorque: {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"4\"}";
  ASSERT_TRUE(unit.waitForKmsg(last));
  // Records of the writes come back in order; a further write proves nothing else is on its way.
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'BluetoothPower':true}}"), "{\"result\": 1 }");
  ASSERT_TRUE(unit.waitForKmsg("MemPersistent.BluetoothPower: "));
  EXPECT_EQ(count(unit.kmsg(), "MemPersistent.AUXTorque: "), 2u);
  EXPECT_EQ(
      count(unit.kmsg(), "MemPersistent.AUXTorque: {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"2\"}"),
      1u);
}

TEST(VariableApi, UpdateWaitsThenBothWaitersGetTheDocumentWithTheirIds) {
  Sandbox unit;
  auto client = connectService(unit);
  auto first = connectService(unit);
  auto second = connectService(unit);
  startUpdate(*first, 11);
  startUpdate(*second, 12);
  // Nothing at all, not even the head, until a change.
  EXPECT_FALSE(first->readRecord(400).has_value());
  EXPECT_EQ(first->pendingBytes(), 0u);

  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}"), "{\"result\": 1 }");
  const std::string variables =
      "\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "
      "{\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"3\"}\r\n  }\r\n}\r\n}\r\n";
  const auto one = first->readReply(3000);
  const auto two = second->readReply(3000);
  ASSERT_TRUE(one.ended);
  ASSERT_TRUE(two.ended);
  EXPECT_EQ(one.stdoutText, kHead + "{\r\n\"id\": 11,\r\n" + variables);
  EXPECT_EQ(two.stdoutText, kHead + "{\r\n\"id\": 12,\r\n" + variables);
}

TEST(VariableApi, AnsweredConnectionIsNotAnsweredAgainAndSweptChangesAreGone) {
  Sandbox unit;
  auto client = connectService(unit);
  auto waiter = connectService(unit);
  startUpdate(*waiter, 21);
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  ASSERT_TRUE(waiter->readReply(3000).ended);

  // The answered keep-alive connection stays quiet across a change, and then serves a whole-state
  // request as such.
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}"), "{\"result\": 1 }");
  EXPECT_FALSE(waiter->readRecord(500).has_value());
  ASSERT_EQ(call(*waiter, "/api/v1/all.cgi", "").substr(0, 12), "{\r\n\"id\": 1,\r");

  // That change was swept while nobody waited: a new waiter does not get it.
  startUpdate(*waiter, 22);
  EXPECT_FALSE(waiter->readRecord(400).has_value());
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'BluetoothPower':true}}"), "{\"result\": 1 }");
  const auto reply = waiter->readReply(3000);
  ASSERT_TRUE(reply.ended);
  EXPECT_NE(reply.stdoutText.find("\"BluetoothPower\" : "), std::string::npos);
  EXPECT_EQ(reply.stdoutText.find("AUXTorque"), std::string::npos);
}

}  // namespace
