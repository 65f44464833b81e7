// The variable API of the running service inside the unit sandbox, through our own FastCGI client: what
// only shows with the real event loop, broker and connections (the rendering is unit-tested).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {

const std::string kHead = "Content-type: application/json\r\n\r\n";
const char* const kSet = "/api/v1/set.cgi";

// The answer with its change sequence line taken out of the head.
std::string withoutSequence(std::string text) {
  const size_t line = text.find("\r\nX-Change-Sequence: ");
  if (line != std::string::npos) text.erase(line, text.find("\r\n", line + 2) - line);
  return text;
}

// Every int and float of a variable document outside its own bounds, as "name value" lines.
void collectOutOfBounds(const nlohmann::json& node, const std::string& name, std::string& found) {
  if (node.is_object() && node.contains("type") && node.contains("value") && node["value"].is_string()) {
    const std::string type = node["type"];
    const std::string value = node["value"];
    if ((type == "int" || type == "float") && (std::stod(value) < std::stod(node["min"].get<std::string>()) ||
                                               std::stod(value) > std::stod(node["max"].get<std::string>())))
      found += name + " " + value + "\n";
    return;
  }
  if (node.is_structured())
    for (const auto& [key, child] : node.items()) collectOutOfBounds(child, name + "." + key, found);
}

std::string outOfBounds(fcgiclient::FcgiClient& client) {
  std::string found;
  collectOutOfBounds(nlohmann::json::parse(call(client, "/api/v1/all.cgi", "")), "", found);
  return found;
}

void startUpdate(fcgiclient::FcgiClient& client, uint16_t requestId) {
  client.sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/update.cgi"}}, "", true, requestId));
}

TEST(VariableApi, WholeStateWaitersBrokerRecordsAndOneShotConnections) {
  Sandbox unit;
  auto client = connectService(unit);
  // A unit as it starts: its values within their bounds, its factory block valid, so the kernel log holds
  // no Error line; and the values below start other than the test writes them (AUXTorque 1, flags false).
  EXPECT_EQ(outOfBounds(*client), "");
  EXPECT_EQ(readFile(unit.stateDir() + "/kmsg.log").find("  Error  "), std::string::npos);
  const auto start = nlohmann::json::parse(call(*client, "/api/v1/all.cgi", ""))["variables"];
  EXPECT_EQ(start["MemPersistent"]["AUXTorque"]["value"], "1");
  EXPECT_EQ(start["MemPersistent"]["BluetoothPower"]["value"], "false");
  EXPECT_EQ(start["MemStatic"]["VariableLogging"]["value"], "false");
  // The whole state carries each request's id; unknown names come back escaped.
  for (uint16_t id : {5, 9}) {
    const auto reply = client->request({{"SCRIPT_NAME", "/api/v1/all.cgi"}}, "", true, id);
    ASSERT_TRUE(reply.ended);
    const std::string start = kHead + "{\r\n\"id\": " + std::to_string(id) + ",\r\n\"variables\": {\"MemPersistent\"";
    ASSERT_EQ(withoutSequence(reply.stdoutText).substr(0, start.size()), start);
    ASSERT_EQ(reply.stdoutText.substr(reply.stdoutText.size() - 4), "}}\r\n");
  }
  EXPECT_EQ(call(*client, "/a\"b\\c", ""), "{\"result\": 0, \"error\": \"Unknown script: '/a\\\"b\\\\c'\" }");

  // Every waiter gets the change once; nothing at all, not even the head, comes before it.
  auto waiter = connectService(unit);
  auto other = connectService(unit);
  startUpdate(*waiter, 21);
  startUpdate(*other, 23);
  EXPECT_FALSE(waiter->readRecord(400).has_value());
  EXPECT_EQ(waiter->pendingBytes(), 0u);
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  const std::string variables =
      ",\r\n\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "
      "{\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"2\"}\r\n  }\r\n}\r\n}\r\n";
  EXPECT_EQ(withoutSequence(waiter->readReply(3000).stdoutText), kHead + "{\r\n\"id\": 21" + variables);
  EXPECT_EQ(withoutSequence(other->readReply(3000).stdoutText), kHead + "{\r\n\"id\": 23" + variables);

  // The answered keep-alive connection stays quiet across a change, and then serves a whole-state
  // request as such.
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':3}}"), "{\"result\": 1 }");
  EXPECT_FALSE(waiter->readRecord(500).has_value());
  ASSERT_EQ(call(*waiter, "/api/v1/all.cgi", "").substr(0, 12), "{\r\n\"id\": 1,\r");

  // That change was swept while nobody waited: a new waiter does not get it.
  startUpdate(*waiter, 22);
  EXPECT_FALSE(waiter->readRecord(400).has_value());
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'BluetoothPower':true}}"), "{\"result\": 1 }");
  const auto swept = waiter->readReply(3000);
  ASSERT_TRUE(swept.ended);
  EXPECT_NE(swept.stdoutText.find("\"BluetoothPower\" : "), std::string::npos);
  EXPECT_EQ(swept.stdoutText.find("AUXTorque"), std::string::npos);

  // One broker record per real change, as variable logging shows.
  ASSERT_EQ(call(*client, kSet, "{'MemStatic':{'VariableLogging':true}}"), "{\"result\": 1 }");
  ASSERT_TRUE(unit.waitForKmsg("MemStatic.VariableLogging: "));
  const std::string line = "MemPersistent.AUXTorque: {\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"";
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  // The line renders the value when the record comes back, so the next change waits for it.
  ASSERT_TRUE(unit.waitForKmsg(line + "2\"}"));
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':2}}"), "{\"result\": 1 }");
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'AUXTorque':4}}"), "{\"result\": 1 }");
  ASSERT_TRUE(unit.waitForKmsg(line + "4\"}"));
  // Records of the writes come back in order; a further write proves nothing else is on its way.
  ASSERT_EQ(call(*client, kSet, "{'MemPersistent':{'BluetoothPower':false}}"), "{\"result\": 1 }");
  ASSERT_TRUE(unit.waitForKmsg("MemPersistent.BluetoothPower: "));
  // Two records: the first for 2, the last for 4, none between them.
  const std::string kmsg = readFile(unit.stateDir() + "/kmsg.log");
  EXPECT_EQ(kmsg.find(line, kmsg.find(line) + 1), kmsg.find(line + "4\"}"));
  EXPECT_EQ(kmsg.rfind(line), kmsg.find(line + "4\"}"));

  // Many fronts open a connection per request and let the service close it after the answer; a
  // finished request must not hold one of the table's places until it is deleted.
  int unanswered = 0;
  for (int i = 0; i < 500; ++i) {
    fcgiclient::FcgiClient oneShot(unit.connectTcp(9000));
    const auto reply = oneShot.request({{"SCRIPT_NAME", kSet}}, "{'MemPersistent':{'AUXTorque':3}}", false, 1);
    if (!reply.ended || reply.stdoutText != kHead + "{\"result\": 1 }" || !oneShot.closedByPeer(1000)) ++unanswered;
  }
  EXPECT_EQ(unanswered, 0);

  // The demo moves the unit through the broker: a waiter hears of the motors, and nothing leaves its bounds.
  ASSERT_EQ(unit.run("unit-simulator demo >/dev/null 2>&1 &"), 0);
  startUpdate(*waiter, 24);
  const std::string moved = waiter->readReply(3000).stdoutText;
  EXPECT_NE(moved.find("\"FocusMotor\" : "), std::string::npos) << moved;
  EXPECT_EQ(outOfBounds(*client), "");
}

}  // namespace
