// What the unit stores, through the running service in the unit sandbox: a structure write lands where
// its fields say or is refused by name, and a damaged factory record is reported and left as it was.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {

TEST(StoredData, StructureWritesLandOrSayWhyAndADamagedFactoryRecordIsLeftAsItWas) {
  // One changed byte of the serial "4711".
  Sandbox unit("--factory-block 4711 mainboard --damage-factory-byte 13");
  auto client = connectService(unit);
  const auto speed = [&client](int index) {
    const auto whole = nlohmann::json::parse(call(*client, "/api/v1/all.cgi", ""));
    return whole["variables"]["MemCamera"]["CamSpeedList"][index]["CamSpeedValue"]["value"].get<std::string>();
  };

  // Key-sorting JSON writers put the index last.
  EXPECT_EQ(call(*client, "/api/v1/set.cgi", R"({"MemCamera":{"CamSpeedList":{"CamSpeedValue":"25","Index":1}}})"),
            "{\"result\": 1 }");
  EXPECT_EQ(speed(1), "25.000000");
  EXPECT_EQ(call(*client, "/api/v1/set.cgi", R"({"MemCamera":{"CamSpeedList":{"Index":1,"CamSpeed":"30"}}})"),
            "{\"result\": 0, \"error\": \"CamSpeedListStruct has no field \\\"CamSpeed\\\"\" }");
  EXPECT_EQ(speed(1), "25.000000");

  // The identity is reported as invalid, the Error line is written, and the bytes stay for a technician.
  const auto info = client->request({{"SCRIPT_NAME", "/qorapp/v1"}, {"PATH_INFO", "/device/info"}}, "", true, 2);
  EXPECT_TRUE(info.stdoutText.find("\r\n  \"_id\": \"invalid\",\r\n") != std::string::npos &&
              info.stdoutText.find("\r\n  \"serialnumber\": \"invalid\",\r\n") != std::string::npos)
      << info.stdoutText;
  EXPECT_TRUE(unit.waitForKmsg("Factory record fails its checksum, left as it is."));
  const std::string damaged = readFile(unit.stateDir() + "/factory-block.damaged");
  ASSERT_EQ(damaged.size(), 348u);
  EXPECT_EQ(damaged.substr(12, 5), std::string("4611\0", 5)) << "the damage is the one asked for";
  EXPECT_EQ(readFile(unit.stateDir() + "/mmcblk1").substr(0x100000, 348), damaged);
}

}  // namespace
