// The kernel-log route: answers log requests from the converted text, or leaves them waiting.
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"

void RequestHandler::serveLog(Request* request) {
  if (!appendLogOutput(request, false)) startWaiting(request, kWaitsForLog);
}

bool RequestHandler::appendLogOutput(Request* request, bool waited, bool early) {
  const LogText& text = logging.getText();
  const std::string_view html = text.view();
  std::optional<LogText::Position> start = Logging::answerStart(request->param("QUERY_STRING"), text.total());
  // Sent early, an answer with nothing new ends at the offset asked for: the client asks again from it.
  if (!start && early) start = text.total();
  if (!start) return false;
  // The length line tells the length at arrival; a request waits only while its offset is that length.
  const LogText::Position lengthLine = waited ? *start : text.total();
  // Offsets count from the start of the stream. One in the dropped part gets the text from the oldest
  // line kept, and the head says where that lies, so that the browser starts over instead of asking again.
  std::string head = "Content-type: text/html\r\n";
  if (early) head += kRetryHead;
  if (*start > 0 && *start < text.dropped()) head += "X-Log-Start: " + std::to_string(text.dropped()) + "\r\n";
  request->writeHeader((head + "\r\n").c_str());
  request->output() << lengthLine << "\r\n";
  // Below html.size(): the start lies before the stream's end, and the kept part ends there too.
  const auto from = static_cast<size_t>(*start > text.dropped() ? *start - text.dropped() : 0);
  if (*start == 0)
    LOG(DebugLight, "Sending all log data to request %i", request->id);
  else
    LOG(DebugLight, "Sending log data with offset %llu/%llu to request %i", static_cast<unsigned long long>(*start),
        static_cast<unsigned long long>(text.total()), request->id);
  request->output().write(html.data() + from, static_cast<std::streamsize>(html.size() - from));
  // Answered: a later request on the same connection is not a log waiter.
  request->waits = Waits::Nothing;
  // Told to come back later, the client leaves its connection's place to others meanwhile.
  if (early)
    request->endAndClose();
  else
    request->end();
  return true;
}

void RequestHandler::sendLogging() {
  for (const auto& [id, request] : fcgi.requests()) {
    if (!waitsFor(*request, kWaitsForLog)) continue;
    try {
      appendLogOutput(request, true);
    } catch (...) {
      LOG(Error, "Could not send logging to request %i", id);
    }
  }
}
