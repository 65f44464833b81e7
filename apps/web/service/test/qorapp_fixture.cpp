#include "apps/web/service/test/qorapp_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "gen/code/introspection_gen.h"
#include "tools/fcgi-client/fcgiclient.h"

namespace qortest {
std::vector<uint32_t> postedEvents() {
  std::vector<uint32_t> events;
  for (const Notify& record : takePostedEvents()) {
    EXPECT_EQ(record.a, 0u);
    EXPECT_EQ(record.b, 0u);
    events.push_back(record.event);
  }
  return events;
}

TempDir::TempDir() {
  char name[] = "/tmp/qorapp_test_XXXXXX";
  EXPECT_NE(mkdtemp(name), nullptr);
  root = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

QorApp::Paths pathsIn(const TempDir& dir) {
  return {dir / "lens/",           dir / "rings/",
          dir / "setups/",         dir / "update/file-from-app",
          dir / "update/host.swu", dir / "update/client.cmf",
          dir / "post-data"};
}

namespace {
// A listener of the service's own on a free port, handing each complete request to the app under test.
class Responder : public Fcgi::RequestCallback {
 public:
  Responder() : fcgi(0, poll) { fcgi.requestCallback = this; }
  void handleRequest(Request* request) override { app->handleRequest(request, version); }
  void pump() {
    poll.wait(5, false);
    fcgi.cleanup();
  }

  EventPoll poll;
  Fcgi fcgi;
  QorApp* app = nullptr;
  int version = 1;
};
}  // namespace

std::string serve(QorApp& app, int version, const std::map<std::string, std::string>& params, const std::string& body) {
  static Responder responder;
  responder.app = &app;
  responder.version = version;
  int fd = fcgiclient::connectTcp("127.0.0.1", static_cast<uint16_t>(responder.fcgi.port()));
  EXPECT_GE(fd, 0);
  fcgiclient::FcgiClient client(fd, [] { responder.pump(); });
  fcgiclient::Reply reply = client.request(params, body, false);
  EXPECT_TRUE(reply.ended);
  EXPECT_EQ(reply.stderrText, "");
  return reply.stdoutText;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace qortest
