// The kernel-log route: answers log requests from the converted text, or leaves them waiting.
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"

void RequestHandler::appendLogOutput(Request* request) {
  const LogText& text = logging.getText();
  const std::string_view html = text.view();
  // Offsets count from the start of the stream; one in the dropped part gets the oldest byte kept.
  std::optional<LogText::Position> start = Logging::answerStart(request->param("QUERY_STRING"), text.total());
  if (!start) return;
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
  request->end();
}

void RequestHandler::sendLogging() {
  for (const auto& [id, request] : fcgi.requests()) {
    if (!waitsFor(*request, kWaitsForLog)) continue;
    try {
      appendLogOutput(request);
    } catch (...) {
      LOG(Error, "Could not send logging to request %i", id);
    }
  }
}
