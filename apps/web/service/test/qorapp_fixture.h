#pragma once
// What the device app's tests share: the events the service posts,
// segments of their own, and requests sent through the service's FastCGI listener.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "apps/common/introspection/testcatalogue.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"

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
class AppTest : public ::testing::Test {
 protected:
  TempDir dir;
  TestPayloads segments;
  QorApp::Paths paths = pathsIn(dir);
  QorApp app{"HU", "77", paths};
};

// Sends one request over TCP to a listener that hands it to app; returns the STDOUT sent back, head included.
std::string serve(QorApp& app, int version, const std::map<std::string, std::string>& params,
                  const std::string& body = "");

constexpr const char* kHead = "Content-type: application/json\r\n\r\n";

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace qortest
