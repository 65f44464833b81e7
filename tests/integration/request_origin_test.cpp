// Foreign host names and writes from pages of another origin, through both HTTP fronts the service runs
// behind (nginx as on the unit, lighttpd as a second front): each passes the headers, the service refuses.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/sandbox_harness.h"

namespace {

const std::string kForeignHost =
    "{\"result\": 0, \"error\": \"Refused: the Host names none of this unit's names\" }\n403";
const std::string kCrossOrigin =
    "{\"result\": 0, \"error\": \"Refused: a page of another origin may not change this unit\" }\n403";
const std::string kWritten = "{\"result\": 1 }\n200";

TEST(RequestOrigin, BothFrontsPassTheHeadersAndTheServiceRefusesForeignHostsAndCrossOriginWrites) {
  Sandbox unit("--factory-block 4711 mainboard");
  std::string output;
  ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  ASSERT_EQ(unit.run("mkdir -p /tmp/lighttpd && printf '%s\\n' 'server.document-root = \"/tmp/lighttpd\"' "
                     "'server.bind = \"127.0.0.1\"' 'server.port = 8020' 'server.modules = (\"mod_fastcgi\")' "
                     "'fastcgi.server = (\".cgi\" => ((\"host\" => \"127.0.0.1\", \"port\" => 9000, "
                     "\"check-local\" => \"disable\")))' >/tmp/lighttpd.conf && lighttpd -f /tmp/lighttpd.conf",
                     &output),
            0)
      << output;
  const auto curl = [&unit](const std::string& arguments) {
    std::string body;
    unit.run("curl -s -m 20 -w '\\n%{http_code}' " + arguments, &body);
    return body;
  };
  const auto torque = [&unit] {
    std::string value;
    unit.run("unit-simulator get MemPersistent AUXTorque", &value);
    return value.substr(0, value.find('\n'));
  };
  const auto set = [](const std::string& front, int value) {
    return " --data \"{'MemPersistent':{'AUXTorque':" + std::to_string(value) + "}}\" http://" + front +
           "/api/v1/set.cgi";
  };
  const std::string initial = torque();
  for (const std::string front : {"127.0.0.1:8080", "127.0.0.1:8020"}) {
    // A foreign name, as DNS rebinding gives it, is refused for reads too.
    EXPECT_EQ(curl("-H 'Host: evil.example' http://" + front + "/api/v1/all.cgi"), kForeignHost) << front;
    EXPECT_EQ(curl("-H 'Host: evil.example:8080'" + set(front, 3)), kForeignHost) << front;
    // Writes a browser marks as coming from a page of another origin.
    EXPECT_EQ(curl("-H 'Origin: http://127.0.0.2:8090'" + set(front, 3)), kCrossOrigin) << front;
    EXPECT_EQ(curl("-H 'Origin: null'" + set(front, 3)), kCrossOrigin) << front;
    EXPECT_EQ(curl("-H 'Sec-Fetch-Site: cross-site'" + set(front, 3)), kCrossOrigin) << front;
    EXPECT_EQ(torque(), initial) << front;
  }
  // The status route gives an update its go-ahead even on GET.
  EXPECT_EQ(curl("-H 'Sec-Fetch-Site: cross-site' http://127.0.0.1:8080/qorapp/v1/device/status"), kCrossOrigin);

  // The unit's own names and pages, and clients that send neither header.
  EXPECT_EQ(curl("-H 'Host: unit.local:8080' -H 'Origin: http://unit.local:8080'" + set("127.0.0.1:8080", 2)),
            kWritten);
  EXPECT_EQ(torque(), "2");
  EXPECT_EQ(curl("-H 'Host: UNIT' -H 'Sec-Fetch-Site: same-origin'" + set("127.0.0.1:8080", 3)), kWritten);
  EXPECT_EQ(torque(), "3");
  EXPECT_EQ(curl("-H 'Host: [::1]:8080'" + set("127.0.0.1:8080", 4)), kWritten);
  EXPECT_EQ(torque(), "4");
  EXPECT_EQ(curl(set("127.0.0.1:8020", 1)), kWritten);
  EXPECT_EQ(torque(), "1");
  EXPECT_TRUE(unit.waitForKmsg("Refused POST /api/v1/set.cgi: Refused: a page of another origin"));
}

}  // namespace
