#include "apps/web/service/requesthandler.h"

#include <exception>

#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loopturn.h"
#include "apps/web/service/onewiredata.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requestorigin.h"
#include "apps/web/service/screenroute.h"

RequestHandler::RequestHandler(EventPoll& poll, Fcgi& fcgi) : fcgi(fcgi), logging(poll), premarkedRing(poll, fcgi) {
  lastTick = std::chrono::steady_clock::now();
  try {
    logging.init();
  } catch (const std::exception&) {
    LOG(Error, "Logging to web gui will not be available");
  }
}

RequestHandler::~RequestHandler() = default;

bool RequestHandler::waitsFor(const Request& request, Waits kind) { return request.waits == kind; }

// A crowd of waiting clients must never fill the table that writes and reads need: past the share,
// each new waiter takes the place of the one that has waited longest.
void RequestHandler::startWaiting(Request* request, Waits kind) {
  size_t waiting = 0;
  Request* oldest = nullptr;
  for (const auto& [id, other] : fcgi.requests()) {
    if (other->waits == Waits::Nothing) continue;
    ++waiting;
    if (oldest == nullptr || other->waitOrder < oldest->waitOrder) oldest = other;
  }
  if (waiting >= kMaxWaiting) {
    LOG(DebugLight, "%zu requests wait; request %u is answered early", waiting, oldest->id);
    const Waits oldestWaits = oldest->waits;
    // It gives up its place even when its answer fails.
    oldest->waits = Waits::Nothing;
    if (oldestWaits == kWaitsForUpdate) {
      answerUpdateEarly(oldest);
    } else {
      try {
        appendLogOutput(oldest, true, true);
      } catch (const std::exception&) {
        LOG(Error, "Could not send logging to request %i", oldest->id);
      }
    }
  }
  request->waits = kind;
  request->waitOrder = ++waitCount;
}

void RequestHandler::handleParams(Request* request) {
  // A request that will be refused never has its body stored, not even in a temporary file.
  if (foreignRefusal(*request) != nullptr) return request->streamBodyTo(std::make_unique<SkippedBody>());
  const std::string& script = request->param("SCRIPT_NAME");
  if (script == "/qorapp/v1" || script == "/qorapp/v2") qorApp.takeBody(request);
}

void RequestHandler::handleRequest(Request* request) {
  // A keep-alive connection reuses its Request: a mark left from its previous request must not
  // make the periodic passes answer this one.
  request->waits = Waits::Nothing;
  const std::string script = request->param("SCRIPT_NAME");
  LOG(DebugMost, "REQUEST handle(%i, %i, %s)", request->id, request->fcgiRequestId(), script.c_str());
  LoopTurn::current().note(script + request->param("PATH_INFO"));
  if (refuseForeign(*request)) return request->end();
  if (script == "/api/v1/all.cgi") {
    serveAll(request);
  } else if (script == "/api/v1/update.cgi") {
    serveUpdate(request);
  } else if (script == "/api/v1/set.cgi") {
    serveSet(request);
  } else if (script == "/api/v1/log.cgi") {
    serveLog(request);
  } else if (script == "/api/v1/screen.cgi") {
    serveScreen(request, screenCapture);
  } else if (script == "/qorapp/v1") {
    qorApp.handleRequest(request, 1);
  } else if (script == "/qorapp/v2") {
    qorApp.handleRequest(request, 2);
  } else if (script == "/api/v1/modemdata.cgi") {
    handleModemData(request);
  } else if (script == "/api/v1/premarkeddata.cgi") {
    premarkedRing.handle(request);
  } else {
    serveUnknown(request, script);
  }
}

void RequestHandler::serveAll(Request* request) {
  LOG(LogLight, "Request %s from %s to %s by %s", request->param("SCRIPT_FILENAME").c_str(),
      request->param("REMOTE_ADDR").c_str(), request->param("SERVER_ADDR").c_str(),
      request->param("HTTP_USER_AGENT").c_str());
  // Rendered in this turn of the loop: the document holds every change received so far.
  writeChangeHead(request);
  std::ostream& out = request->output();
  out << "{\r\n\"id\": " << request->fcgiRequestId() << ",\r\n\"variables\": {";
  // The document is over a megabyte: sent in pieces of about a record's size as it grows, it never
  // sits whole in memory.
  constexpr std::size_t kSendAbove = 60 * 1024;
  document.clear();
  createJsonTree(document, [this, request, &out] {
    if (document.size() <= kSendAbove) return;
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
    document.clear();
    request->output();
  });
  document += "}}\r\n";
  request->output().write(document.data(), static_cast<std::streamsize>(document.size()));
  request->end();
}

void RequestHandler::serveSet(Request* request) {
  std::stringstream errors;
  const bool ok = setVars(request->postData, errors);
  std::ostream& out = request->output();
  out << "{\"result\": " << (ok ? 1 : 0);
  if (!ok) out << ", \"error\": \"" << encodeString(errors.str()) << "\"";
  if (ok && errors.tellp() > 0) out << ", \"warning\": \"" << encodeString(errors.str()) << "\"";
  out << " }";
  request->end();
}

void RequestHandler::serveUnknown(Request* request, const std::string& script) {
  LOG(Warn, "Unknown script: '%s'", script.c_str());
  const std::string text = "Unknown script: '" + script + "'";
  request->output() << "{\"result\": 0, \"error\": \"" << encodeString(text) << "\" }";
  request->end();
}

void RequestHandler::periodic() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastTick <= std::chrono::nanoseconds(99'999'999)) return;
  lastTick = now;
  fcgi.cleanup();
  sendUpdate();
  sendLogging();
  fcgi.cleanup();
}
