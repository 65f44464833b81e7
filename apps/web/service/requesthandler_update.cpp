// Change tracking and the long-poll answers of the request handler.
#include <exception>

#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"
#include "gen/code/introspection_gen.h"

namespace {

bool variableLoggingOn() {
  const uint8_t* value = catalogue::MemStatic::VariableLogging.at();
  return value != nullptr && *value != 0;
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
    request->userData.reset();
    try {
      request->output() << "{\r\n\"id\": " << request->fcgiRequestId() << ",\r\n" << document;
      request->end();
    } catch (const std::exception&) {
      LOG(Error, "Could not send updates to request %i", request->id);
    }
  }
}
