#pragma once
// Answers every FastCGI request of the service and receives every broker event: routing,
// the variable documents, writes, long-poll updates.
#include <chrono>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <sstream>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/web/service/changedevents.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/logging.h"
#include "apps/web/service/onewiredata.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/screencapture.h"

class Request;

class RequestHandler : public Fcgi::RequestCallback, public ServerConnection::EventHandler {
 public:
  // userData marks of requests that are answered later by a periodic pass.
  static constexpr int kWaitsForUpdate = 0;
  static constexpr int kWaitsForLog = 1;

  RequestHandler(EventPoll& poll, Fcgi& fcgi);
  ~RequestHandler();
  RequestHandler(const RequestHandler&) = delete;
  RequestHandler& operator=(const RequestHandler&) = delete;

  void handleRequest(Request* request) override;
  void handleEvent(Notify const& event) override;
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
  void sendUpdate();
  void appendLogOutput(Request* request);
  void sendLogging();

  static bool waitsFor(const Request& request, int kind);

 private:
  void serveAll(Request* request);
  void serveSet(Request* request);
  void serveLog(Request* request);
  void serveUnknown(Request* request, const std::string& script);

  Fcgi& fcgi;
  std::chrono::steady_clock::time_point lastTick;
  ChangedEvents changedEvents;
  QorApp qorApp;
  Logging logging;
  ScreenCapture screenCapture;
  PremarkedRing premarkedRing;
  // The whole-state document's pieces, reused from request to request.
  std::string document;
};
