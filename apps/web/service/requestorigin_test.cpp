#include "apps/web/service/requestorigin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

TEST(RequestOrigin, HostMustNameTheUnitByAddressLocalhostItsOwnOrAListedName) {
  const RequestOrigin unit({"Unit", "unit.local", "camera-a.set.example.", ""});
  for (const char* host :
       {"", "127.0.0.1", "192.168.4.1:8080", "[::1]", "[fe80::1]:8080", "[2001:DB8::7]", "localhost", "LOCALHOST:8080",
        "unit", "UNIT.Local", "unit.local.", "unit.local.:80", "camera-a.set.example", "Camera-A.Set.Example.:8080"})
    EXPECT_TRUE(unit.hostAllowed(host)) << host;
  // Foreign names (DNS rebinding), look-alikes, malformed authorities and addresses that are none.
  for (const char* host : {"evil.example",
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
                           "."})
    EXPECT_FALSE(unit.hostAllowed(host)) << host;
  // A port may be left empty; the name is what counts.
  EXPECT_TRUE(unit.hostAllowed("unit:") && unit.hostAllowed("127.0.0.1:"));

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
  // Each case is "Host Origin" over plain HTTP without fetch metadata.
  const auto cross = [](std::string_view hostAndOrigin) {
    const std::size_t space = hostAndOrigin.find(' ');
    return RequestOrigin::crossOrigin(hostAndOrigin.substr(0, space), hostAndOrigin.substr(space + 1), "", false);
  };
  // Neither header (the device app, curl, scripts), or the unit's own pages, also with letter case, default
  // ports written out or left out, and IPv6.
  for (const char* c :
       {"127.0.0.1:8080 ", " ", "127.0.0.1:8080 http://127.0.0.1:8080", "Unit.Local:8080 HTTP://unit.local:8080",
        "unit.local http://unit.local:80", "unit.local:80 http://unit.local", "[::1]:8080 http://[::1]:8080",
        "[FE80::1] http://[fe80::1]", "unit.local.:8080 http://unit.local:8080"})
    EXPECT_FALSE(cross(c)) << c;
  // Another origin: host, port or scheme differ, "null", a malformed Origin, or no Host to compare with.
  for (const char* c :
       {"127.0.0.1:8080 http://127.0.0.2:8090", "127.0.0.1:8080 http://127.0.0.1:8081",
        "127.0.0.1:8080 http://127.0.0.1", "unit.local https://unit.local", "unit.local:80 https://unit.local:80",
        "unit.local http://evil.example", "unit.local http://unit.local.evil.example", "[::1]:8080 http://[::2]:8080",
        "127.0.0.1:8080 null", "127.0.0.1:8080 NULL", "127.0.0.1:8080 file://",
        "127.0.0.1:8080 http://127.0.0.1:8080/path", "127.0.0.1:8080 http://", " http://127.0.0.1:8080"})
    EXPECT_TRUE(cross(c)) << c;
  // Behind TLS the default port is 443 and the scheme https.
  EXPECT_FALSE(RequestOrigin::crossOrigin("unit.local", "https://unit.local", "", true));
  EXPECT_FALSE(RequestOrigin::crossOrigin("unit.local:443", "https://unit.local", "", true));
  EXPECT_TRUE(RequestOrigin::crossOrigin("unit.local", "http://unit.local", "", true));
  // Without Origin, the browser's fetch metadata; an Origin decides over it.
  for (const char* site : {"same-origin", "none"})
    EXPECT_FALSE(RequestOrigin::crossOrigin("10.0.0.1", "", site, false));
  for (const char* site : {"cross-site", "Cross-Site", "same-site"})
    EXPECT_TRUE(RequestOrigin::crossOrigin("127.0.0.1:8080", "", site, false)) << site;
  EXPECT_FALSE(RequestOrigin::crossOrigin("127.0.0.1:8080", "http://127.0.0.1:8080", "cross-site", false));
}

}  // namespace
