#include "apps/web/service/test/qorapp_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "gen/code/introspection_gen.h"

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

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace qortest
