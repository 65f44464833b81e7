#include "apps/web/service/requestorigin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

TEST(RequestOrigin, HostMustNameTheUnitByAddressLocalhostItsOwnOrAListedName) {
  const RequestOrigin unit({"Unit", "unit.local", "camera-a.set.example.", ""});
  for (const char* host :
       {"", "127.0.0.1", "192.168.4.1:8080", "[::1]", "[fe80::1]:8080", "[2001:DB8::7]", "localhost", "LOCALHOST:8080",
        "unit", "UNIT.Local", "unit.local.", "unit.local.:80", "camera-a.set.example", "Camera-A.Set.Example.:8080"})
    EXPECT_TRUE(unit.hostAllowed(host)) << host;
  // Foreign names (DNS rebinding), look-alikes, malformed authorities and addresses that are none.
  const char* const foreign[] = {"evil.example",
                                 "evil.example:8080",
                                 "unit.evil.example",
                                 "localhost.evil.example",
                                 "unitx",
                                 "unit..",
                                 ".unit",
                                 "::1",
                                 "[::1",
                                 "[::1]x",
                                 "[127.0.0.1]",
                                 "[::g]",
                                 "127.1.1",
                                 "256.0.0.1",
                                 "1.2.3.4.5",
                                 "unit:80:80",
                                 "unit:123456",
                                 "unit:80x",
                                 "unit:65536",
                                 ":8080",
                                 "."};
  for (const char* host : foreign) EXPECT_FALSE(unit.hostAllowed(host)) << host;
  // A port may be left empty; the name is what counts.
  EXPECT_TRUE(unit.hostAllowed("unit:"));
  EXPECT_TRUE(unit.hostAllowed("127.0.0.1:"));

  // On the unit: its host name, with ".local", and what the deployer lists in the unit file.
  ASSERT_EQ(setenv("WEBSERVICE_HOST_NAMES", "a.example, B.example\tc.example,", 1), 0);
  const RequestOrigin system = RequestOrigin::fromSystem();
  unsetenv("WEBSERVICE_HOST_NAMES");
  char own[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(own, sizeof own - 1), 0);
  for (const std::string& host :
       std::initializer_list<std::string>{"a.example", "b.example:8080", "c.example", own, std::string(own) + ".local"})
    EXPECT_TRUE(system.hostAllowed(host)) << host;
  EXPECT_FALSE(system.hostAllowed("d.example"));
  EXPECT_FALSE(system.hostAllowed("a.example,"));
}

TEST(RequestOrigin, CrossOriginIsAnOriginOtherThanTheHostsOrABrowsersMarkWithoutOne) {
  const auto cross = [](const char* host, const char* origin, const char* site = "", bool https = false) {
    return RequestOrigin::crossOrigin(host, origin, site, https);
  };
  // Neither header: the device app, curl and scripts.
  EXPECT_FALSE(cross("127.0.0.1:8080", ""));
  EXPECT_FALSE(cross("", ""));
  // The unit's own pages, also with letter case, default ports written out or left out, and IPv6.
  EXPECT_FALSE(cross("127.0.0.1:8080", "http://127.0.0.1:8080"));
  EXPECT_FALSE(cross("Unit.Local:8080", "HTTP://unit.local:8080"));
  EXPECT_FALSE(cross("unit.local", "http://unit.local:80"));
  EXPECT_FALSE(cross("unit.local:80", "http://unit.local"));
  EXPECT_FALSE(cross("unit.local", "https://unit.local", "", true));
  EXPECT_FALSE(cross("unit.local:443", "https://unit.local", "", true));
  EXPECT_FALSE(cross("[::1]:8080", "http://[::1]:8080"));
  EXPECT_FALSE(cross("[FE80::1]", "http://[fe80::1]"));
  EXPECT_FALSE(cross("unit.local.:8080", "http://unit.local:8080"));
  EXPECT_FALSE(cross("10.0.0.1", "", "same-origin"));
  EXPECT_FALSE(cross("10.0.0.1", "", "none"));

  // Another origin: host, port or scheme differ, "null", a malformed Origin, or no Host to compare with.
  EXPECT_TRUE(cross("127.0.0.1:8080", "http://127.0.0.2:8090"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "http://127.0.0.1:8081"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "http://127.0.0.1"));
  EXPECT_TRUE(cross("unit.local", "https://unit.local"));
  EXPECT_TRUE(cross("unit.local", "http://unit.local", "", true));
  EXPECT_TRUE(cross("unit.local:80", "https://unit.local:80"));
  EXPECT_TRUE(cross("unit.local", "http://evil.example"));
  EXPECT_TRUE(cross("unit.local", "http://unit.local.evil.example"));
  EXPECT_TRUE(cross("[::1]:8080", "http://[::2]:8080"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "null"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "NULL"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "file://"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "http://127.0.0.1:8080/path"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "http://"));
  EXPECT_TRUE(cross("", "http://127.0.0.1:8080"));
  // Without Origin, the browser's fetch metadata; an Origin decides over it.
  EXPECT_TRUE(cross("127.0.0.1:8080", "", "cross-site"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "", "Cross-Site"));
  EXPECT_TRUE(cross("127.0.0.1:8080", "", "same-site"));
  EXPECT_FALSE(cross("127.0.0.1:8080", "http://127.0.0.1:8080", "cross-site"));
}

}  // namespace
