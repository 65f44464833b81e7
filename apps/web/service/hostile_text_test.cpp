// Whatever bytes the unit's memories, a client or the file system hold, every answer that carries
// them is JSON in UTF-8 that a strict parser reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "apps/web/service/changedevents.h"
#include "apps/web/service/requesthandler.h"
#include "apps/web/service/test/qorapp_fixture.h"

namespace {
namespace fs = std::filesystem;

void expectParses(const std::string& answer, const std::string& what) {
  std::string body = answer;
  if (body.starts_with(qortest::kHead)) body.erase(0, std::string(qortest::kHead).size());
  EXPECT_TRUE(nlohmann::json::accept(body)) << what << ": " << body.substr(0, 2000);
}

using HostileText = qortest::AppTest;

TEST_F(HostileText, EveryAnswerIsValidJson) {
  // Every payload holds the hostile bytes over and over, so that every string row and every string field
  // of a structure holds some of them, cut at its end, without a terminator.
  const std::string bytes = hostileBytes();
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    char* payload = *MEMORY_ARRAY[mem].rows[0].memory;
    for (uint32_t at = 0; at < MEMORY_ARRAY[mem].payloadSize; ++at) payload[at] = bytes[(at + 7 * mem) % bytes.size()];
  }

  std::string tree;
  RequestHandler::createJsonTree(tree);
  expectParses("{\r\n\"id\": 1,\r\n\"variables\": {" + tree + "}}\r\n", "whole state");
  ChangedEvents changed;
  for (uint32_t event = 0; event < ChangedEvents::kEventCount; ++event) changed.mark(event);
  expectParses("{\r\n\"id\": 1,\r\n" + changed.takeDocument(), "update");

  QorApp hostile(bytes, bytes, paths);
  for (int version : {1, 2}) expectParses(serve(hostile, version, {{"PATH_INFO", "/device/info"}}), "info");

  // File names are any bytes but the slash and NUL.
  std::string name = bytes;
  std::erase(name, '/');
  for (const std::string& folder : {paths.lensTables, paths.focusRings, paths.setups}) {
    fs::create_directories(folder + name.substr(0, 200));
    qortest::writeFile(folder + name.substr(0, 200) + "/" + name.substr(200), "x");
    qortest::writeFile(folder + name.substr(0, 250), "x");
  }
  for (const char* list : {"/lenstables/list", "/focusrings/list", "/setups/list"}) {
    for (int version : {1, 2}) expectParses(serve(hostile, version, {{"PATH_INFO", list}}), list);
  }

  fs::create_directories(dir / "update");
  const std::string upload = "--sep\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\n" + bytes +
                             "-5\r\n--sep\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x\"\r\n\r\n"
                             "CMF\r\n--sep--\r\n";
  const std::string task = serve(
      hostile, 2, {{"PATH_INFO", "/device/update"}, {"CONTENT_TYPE", "multipart/form-data; boundary=sep"}}, upload);
  EXPECT_NE(task.find("taskid"), std::string::npos) << task;
  expectParses(task, "update task");
  expectParses(serve(hostile, 2, {{"PATH_INFO", "/device/status"}}), "update status");
}

}  // namespace
