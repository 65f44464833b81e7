// What the routes that write variables do while the broker connection is away, and when it goes in
// the middle of a write.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "apps/common/event/eventsink.h"
#include "apps/web/service/requesthandler.h"
#include "apps/web/service/test/qorapp_fixture.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace devices = catalogue::MemExternalDevices;

// A connection that is away, or that goes when the next record is posted.
class FailingSink : public EventSink {
 public:
  void postEvent(Notify const& notify) override {
    posted.push_back(notify.event);
    if (goOnPost) lostBecause = "it hung up";
  }
  std::string refusal() const override {
    return lostBecause.empty() ? std::string() : "no connection to the message broker (" + lostBecause + ")";
  }
  std::vector<uint32_t> posted;
  std::string lostBecause;
  bool goOnPost = false;
};

class BrokerAwayTest : public qortest::AppTest {
 protected:
  BrokerAwayTest() { setEventSink(&sink); }
  ~BrokerAwayTest() override { takePostedEvents(); }  // the recorder is the sink again

  static std::pair<bool, std::string> set(const std::string& body) {
    std::stringstream errors;
    const bool ok = RequestHandler::setVars(body, errors);
    return {ok, errors.str()};
  }

  FailingSink sink;
};

TEST_F(BrokerAwayTest, WritesAreRefusedUntouchedWhileAwayAndAWriteCutOffIsStoredAndSaidSo) {
  const RowRef torque = findRow("MemPersistent", "AUXTorque");
  torque.store(int32_t{2});
  std::filesystem::create_directories(dir / "update");
  qortest::setInt(gMemExternalDevices, devices::PeltUpdateState.offset, 2);

  sink.lostBecause = "it does not read what the service sends";
  const std::string refused =
      "Not stored: no connection to the message broker (it does not read what the service sends); try again when it "
      "is back.";
  EXPECT_EQ(set("{'MemPersistent':{'AUXTorque':3}}"), std::pair(false, refused));
  EXPECT_EQ(torque.load<int32_t>(), 2);
  const std::string upload =
      "--sep\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nABC-1\r\n--sep\r\n"
      "Content-Disposition: form-data; name=\"file\"; filename=\"x\"\r\n\r\nx\r\n--sep--\r\n";
  EXPECT_EQ(
      serve(app, 1, {{"PATH_INFO", "/device/update"}, {"CONTENT_TYPE", "multipart/form-data; boundary=sep"}}, upload),
      std::string(qortest::kHead) + "{\"result\": \"" + refused + "\" }");
  EXPECT_FALSE(std::filesystem::exists(paths.uploadFile));
  EXPECT_FALSE(std::filesystem::exists(paths.clientUpdateFile));
  // A valid file gets its go-ahead only once it can be announced.
  const std::string valid = std::string(qortest::kHead) + "{\"status\": \"FileValid\", \"progress\": 0 }";
  EXPECT_EQ(serve(app, 2, {{"PATH_INFO", "/device/status"}}), valid);
  EXPECT_EQ(gMemExternalDevices[devices::PeltUpdateStart.offset], 0);
  EXPECT_EQ(sink.posted, std::vector<uint32_t>{});

  sink.lostBecause.clear();
  EXPECT_EQ(serve(app, 2, {{"PATH_INFO", "/device/status"}}), valid);
  EXPECT_EQ(gMemExternalDevices[devices::PeltUpdateStart.offset], 1);
  EXPECT_EQ(sink.posted, std::vector<uint32_t>{devices::PeltUpdateStart.event.event});

  // The connection goes as the change is announced: it is stored, its record is held, and the answer
  // says both.
  sink.posted.clear();
  sink.goOnPost = true;
  EXPECT_EQ(set("{'MemPersistent':{'AUXTorque':3}}"),
            std::pair(true, std::string("Stored, but no connection to the message broker (it hung up): the change is "
                                        "announced when it is back.")));
  EXPECT_EQ(torque.load<int32_t>(), 3);
  EXPECT_EQ(sink.posted, std::vector<uint32_t>{torque.info().event.event});
}

}  // namespace
