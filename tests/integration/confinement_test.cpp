// The unit sandbox holds the service to its unit file: the folders it may write, the devices it may open
// and how, the capabilities it keeps. Every other integration test then runs the service under those limits.
#include <gtest/gtest.h>
#include <linux/capability.h>

#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {
// The values of every line "KEY=..." of the unit file, split at blanks.
std::vector<std::string> unitValues(const std::string& unit, const std::string& key) {
  std::vector<std::string> values;
  std::istringstream lines(unit);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(key + "=")) continue;
    std::istringstream words(line.substr(key.size() + 1));
    for (std::string word; words >> word;) values.push_back(word);
  }
  return values;
}

// Mount point and read-write flag of every mount the service sees (its /proc/PID/mountinfo).
std::map<std::string, bool> mounts(const std::string& mountinfo) {
  std::map<std::string, bool> found;
  std::istringstream lines(mountinfo);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options;
    fields >> id >> parent >> device >> root >> point >> options;
    found[point] = options.starts_with("rw");
  }
  return found;
}
}  // namespace

TEST(Confinement, TheServiceWritesDevicesAndCapabilitiesAreThoseOfItsUnitFile) {
  const std::string unitFile = readFile(UNIT_FILE);
  ASSERT_NE(unitFile, "");
  Sandbox unit;
  connectService(unit);
  // The service is the only child of the sandbox's init.
  std::string mountinfo, status, devices;
  const std::string service = "/proc/$(cat /proc/1/task/1/children | tr -d ' ')";
  ASSERT_EQ(unit.run("cat " + service + "/mountinfo", &mountinfo), 0);
  ASSERT_EQ(unit.run("cat " + service + "/status", &status), 0);
  ASSERT_EQ(unit.run("cd /dev && ls -A . pts", &devices), 0);

  // Writable: the unit file's folders and read-write devices, the pseudo-devices every service has
  // (DevicePolicy=closed), and what the unit's other software owns.
  const std::set<std::string> pseudoDevices = {"null", "zero", "full", "random", "urandom", "tty"};
  std::set<std::string> writable = {"/dev", "/dev/pts", "/dev/shm", "/proc", "/var/volatile", "/run/unit-sandbox"};
  for (const std::string& name : pseudoDevices) writable.insert("/dev/" + name);
  std::set<std::string> readOnly = {"/", "/usr", "/etc", "/var"};
  for (const std::string& path : unitValues(unitFile, "ReadWritePaths")) writable.insert(path);
  const std::vector<std::string> allowed = unitValues(unitFile, "DeviceAllow");
  ASSERT_EQ(allowed.size(), 8u);
  for (size_t i = 0; i + 1 < allowed.size(); i += 2) (allowed[i + 1] == "rw" ? writable : readOnly).insert(allowed[i]);
  std::set<std::string> seenWritable;
  for (const auto& [point, rw] : mounts(mountinfo)) {
    if (rw) seenWritable.insert(point);
    if (readOnly.count(point) != 0) {
      EXPECT_FALSE(rw) << point;
    }
  }
  EXPECT_EQ(seenWritable, writable);
  EXPECT_EQ(unit.run("touch /x || touch /var/x || touch /etc/x"), 1);

  // Devices: the four of the unit file, the pseudo-devices, and the terminal and descriptor links.
  std::set<std::string> nodes = pseudoDevices;
  nodes.insert({"ptmx", "shm", "pts", "fd", "stdin", "stdout", "stderr", "core", ".:", "pts:", ""});
  for (size_t i = 0; i < allowed.size(); i += 2) nodes.insert(allowed[i].substr(5));
  std::istringstream listed(devices);
  for (std::string name; std::getline(listed, name);) EXPECT_EQ(nodes.count(name), 1u) << "/dev/" << name;

  // Capabilities: the bounding set of the unit file, and no way to gain more.
  const std::map<std::string, int> numbers = {{"CAP_SYS_RAWIO", CAP_SYS_RAWIO}, {"CAP_SYSLOG", CAP_SYSLOG}};
  uint64_t bounding = 0;
  for (const std::string& name : unitValues(unitFile, "CapabilityBoundingSet")) {
    ASSERT_EQ(numbers.count(name), 1u) << name;
    bounding |= uint64_t{1} << numbers.at(name);
  }
  char expected[32];
  std::snprintf(expected, sizeof expected, "CapBnd:\t%016llx\n", static_cast<unsigned long long>(bounding));
  EXPECT_NE(status.find(expected), std::string::npos) << status;
  EXPECT_NE(status.find("NoNewPrivs:\t1\n"), std::string::npos);
  EXPECT_NE(status.find("CapInh:\t0000000000000000\n"), std::string::npos);
}
