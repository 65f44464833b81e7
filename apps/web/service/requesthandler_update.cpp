// Change tracking and the long-poll answers of the request handler.
#include <exception>
#include <utility>
#include <vector>

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

// The feed's documents of one pass, rendered once per sequence asked for: followers that got the
// previous document all ask from the same one.
class FeedDocuments {
 public:
  explicit FeedDocuments(const ChangedEvents& events) : events(events) {}

  const std::string& since(uint64_t sequence) {
    for (const auto& [from, document] : made)
      if (from == sequence) return document;
    return made.emplace_back(sequence, events.documentSince(sequence)).second;
  }

 private:
  const ChangedEvents& events;
  std::vector<std::pair<uint64_t, std::string>> made;
};

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

void RequestHandler::serveUpdate(Request* request) {
  const std::optional<uint64_t> since = sinceInQuery(request->param("QUERY_STRING"));
  if (!since || (changedEvents.vouchesFor(*since) && !changedEvents.changedSince(*since))) {
    request->since = since;
    startWaiting(request, kWaitsForUpdate);
    return;
  }
  // A sequence from another process or from before a gap: nothing can be said about what changed.
  const bool reload = !changedEvents.vouchesFor(*since);
  answerUpdate(request, changedEvents.documentSince(reload ? changedEvents.sequence() : *since), reload);
}

void RequestHandler::answerUpdateEarly(Request* request) {
  const uint64_t now = changedEvents.sequence();
  if (!request->since) return answerUpdate(request, changedEvents.documentSince(now), false, true);
  // What the next pass would send, at most changes that came since it ran: nothing is skipped.
  const bool reload = !changedEvents.vouchesFor(*request->since);
  answerUpdate(request, changedEvents.documentSince(reload ? now : *request->since), reload, true);
}

void RequestHandler::writeChangeHead(Request* request, bool reload, bool early) const {
  std::string head = "Content-type: application/json\r\nX-Change-Sequence: ";
  head += std::to_string(changedEvents.sequence());
  head += reload ? "\r\nX-Change-Reload: 1\r\n" : "\r\n";
  if (early) head += kRetryHead;
  head += "\r\n";
  request->writeHeader(head.c_str());
}

void RequestHandler::answerUpdate(Request* request, const std::string& document, bool reload, bool early) {
  // The mark belongs to this one answer; the connection may carry other requests later.
  request->waits = Waits::Nothing;
  try {
    writeChangeHead(request, reload, early);
    request->output() << "{\r\n\"id\": " << request->fcgiRequestId() << ",\r\n" << document;
    // Told to come back later, the client leaves its connection's place to others meanwhile.
    if (early)
      request->endAndClose();
    else
      request->end();
  } catch (const std::exception&) {
    LOG(Error, "Could not send updates to request %i", request->id);
  }
}

void RequestHandler::sendUpdate() {
  // The marks are taken whether or not anyone waits: they serve only the clients without a sequence.
  const std::string document = changedEvents.any() ? changedEvents.takeDocument() : std::string();
  FeedDocuments feed(changedEvents);
  for (const auto& [id, request] : fcgi.requests()) {
    if (!waitsFor(*request, kWaitsForUpdate)) continue;
    if (!request->since) {
      if (!document.empty()) answerUpdate(request, document);
      continue;
    }
    const uint64_t since = *request->since;
    // A gap forgotten while the request waited leaves its sequence behind.
    if (!changedEvents.vouchesFor(since))
      answerUpdate(request, feed.since(changedEvents.sequence()), true);
    else if (changedEvents.changedSince(since))
      answerUpdate(request, feed.since(since));
  }
}

// Runs when the broker connection is back after a loss. The unit's other processes may have changed
// values meanwhile, unheard: followers of the change feed are told to reload, those waiting at the next
// pass. Plain update waiters stay waiting; the next change answers them.
void RequestHandler::brokerReturned() { changedEvents.forgetBefore(changedEvents.sequence() + 1); }
