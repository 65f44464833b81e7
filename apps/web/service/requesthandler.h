#pragma once
// Answers every FastCGI request of the service and receives every broker event: routing,
// the variable documents, writes, long-poll updates.
#include <chrono>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/web/service/changedevents.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/logging.h"
#include "apps/web/service/onewiredata.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"
#include "apps/web/service/screencapture.h"

class RequestHandler : public Fcgi::RequestCallback, public ServerConnection::EventHandler {
 public:
  // Marks of requests that are answered later by a periodic pass.
  static constexpr Waits kWaitsForUpdate = Waits::Update;
  static constexpr Waits kWaitsForLog = Waits::Log;
  // Long-polls hold at most this many of the listener's 32 places; the others stay for writes, reads,
  // files and the front's idle connections. A long-poll beyond it makes the oldest one answer at once.
  static constexpr size_t kMaxWaiting = 24;
  // Head line of such an early answer: the client asks again after a second, not at once.
  static constexpr const char* kRetryHead = "Retry-After: 1\r\n";

  RequestHandler(EventPoll& poll, Fcgi& fcgi);
  ~RequestHandler();
  RequestHandler(const RequestHandler&) = delete;
  RequestHandler& operator=(const RequestHandler&) = delete;

  void handleParams(Request* request) override;
  void handleRequest(Request* request) override;
  void handleEvent(Notify const& event) override;
  // Runs when the broker connection is back after a loss; see its definition.
  void brokerReturned() override;
  void periodic();

  // Variable documents.
  // Both append to out. flush, when given, runs before each variable, so that a request can send
  // what out holds instead of buffering the whole document.
  static void createJsonTree(std::string& out, const std::function<void()>& flush = {});
  static void printVariable(unsigned int mem, unsigned int var, std::string& out);
  static void printValue(unsigned int mem, unsigned int var, std::string& out, int index);
  // Free text for a JSON string of an answer.
  static std::string encodeString(const std::string& text);
  static void appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& text);

  // Writes.
  static bool setVars(const std::string& body, std::stringstream& errors);

  // Long-poll.
  // Answers the update requests that wait: with each pass's changes, or with the changes after their
  // sequence once there are any.
  void sendUpdate();
  // Answers a log request, or leaves it waiting (false); `waited` when a periodic pass answers it,
  // `early` when it must be answered now, with no new text if there is none.
  bool appendLogOutput(Request* request, bool waited, bool early = false);
  void sendLogging();

  static bool waitsFor(const Request& request, Waits kind);

 private:
  void serveAll(Request* request);
  void serveUpdate(Request* request);
  // Marks a request as waiting, after answering the oldest waiter early when the waiters' share is full.
  void startWaiting(Request* request, Waits kind);
  // Answers an update waiter now: a follower with what changed after its sequence (mostly nothing),
  // any other with no variables.
  void answerUpdateEarly(Request* request);
  // The JSON head with the sequence the answer is current to; reload asks the client to read the
  // whole state again; early tells the client to come back later.
  void writeChangeHead(Request* request, bool reload = false, bool early = false) const;
  // Sends an update document (what follows its "id" line) and ends the request.
  void answerUpdate(Request* request, const std::string& document, bool reload = false, bool early = false);
  void serveSet(Request* request);
  void serveLog(Request* request);
  void serveUnknown(Request* request, const std::string& script);

  Fcgi& fcgi;
  std::chrono::steady_clock::time_point lastTick;
  // Numbers the waiters in the order they began waiting.
  uint64_t waitCount = 0;
  ChangedEvents changedEvents;
  QorApp qorApp;
  Logging logging;
  ScreenCapture screenCapture;
  PremarkedRing premarkedRing;
  // The whole-state document's pieces, reused from request to request.
  std::string document;
};
