#pragma once
// What the device app's tests share: the events the service posts,
// segments of their own, and requests sent through the service's FastCGI listener.
#include <cstring>
#include <string>
#include <vector>

#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/fcgi_test_fixture.h"
#include "apps/web/service/qorapp.h"

namespace qortest {

// Event numbers posted since the last call (all with zero arguments).
std::vector<uint32_t> postedEvents();

// A 32-bit number in a payload (of TestPayloads), at any alignment.
inline void setInt(char* memory, uint32_t offset, int32_t value) { std::memcpy(memory + offset, &value, 4); }
inline int32_t getInt(const char* memory, uint32_t offset) {
  int32_t value;
  std::memcpy(&value, memory + offset, 4);
  return value;
}

// A scratch folder removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return root; }
  std::string operator/(const std::string& name) const { return root + "/" + name; }

 private:
  std::string root;
};

QorApp::Paths pathsIn(const TempDir& dir);

// An app of unit HU-77 whose folders are in a scratch folder, over memories of the test's own.
class AppTest : public FcgiFixture {
 protected:
  // Sends one request through the listener to `to`; returns the STDOUT sent back, head included.
  std::string serve(QorApp& to, int version, const fcgiclient::Params& params, const std::string& body = "") {
    handler.onParams = [&](Request* request) { to.takeBody(request); };
    handler.onRequest = [&](Request* request) { to.handleRequest(request, version); };
    const fcgiclient::Reply reply = connect()->request(params, body, false);
    EXPECT_TRUE(reply.ended);
    EXPECT_EQ(reply.stderrText, "");
    return reply.stdoutText;
  }

  TempDir dir;
  TestPayloads segments;
  QorApp::Paths paths = pathsIn(dir);
  QorApp app{"HU", "77", paths};
};

constexpr const char* kHead = "Content-type: application/json\r\n\r\n";

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace qortest
