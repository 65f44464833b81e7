// Change tracking and the long-poll answers of the request handler.
#include <exception>
#include <utility>

#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"

namespace {

bool variableLoggingOn() {
  // Looked up once: the catalogue is constant, only the value changes.
  static const auto location = [] {
    const unsigned int mem = Introspection::getMemIndex("MemStatic");
    unsigned int var = 0;
    if (!Introspection::findVariable(mem, "VariableLogging", var))
      THROW_ERROR("No variable VariableLogging in MemStatic");
    return std::pair{mem, var};
  }();
  return Introspection::getVarValue(location.first, location.second, 0) == "true";
}

}  // namespace

void RequestHandler::handleEvent(Notify const& event) {
  // A number beyond the event table names no variable and has no bit to set.
  if (event.event >= ChangedEvents::kEventCount) return;
  if (variableLoggingOn()) {
    unsigned int mem = 0;
    unsigned int var = 0;
    Introspection::getVarLocation(event, mem, var);
    std::string text = Introspection::getMemName(mem);
    text += '.';
    text += Introspection::getVarName(mem, var);
    text += ": ";
    printVariable(mem, var, text);
    LOG(LogLight, "%s", text.c_str());
  }
  changedEvents.mark(event.event);
}

void RequestHandler::sendUpdate() {
  if (!changedEvents.any()) return;
  const std::string document = changedEvents.takeDocument();
  for (const auto& [id, request] : fcgi.requests()) {
    if (!waitsFor(*request, kWaitsForUpdate)) continue;
    // The mark belongs to this one answer; the connection may carry other requests later.
    request->waits = Waits::Nothing;
    try {
      request->output() << "{\r\n\"id\": " << request->fcgiRequestId() << ",\r\n" << document;
      request->end();
    } catch (const std::exception&) {
      LOG(Error, "Could not send updates to request %i", request->id);
    }
  }
}
