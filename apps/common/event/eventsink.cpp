#include "apps/common/event/eventsink.h"

#include "apps/common/log/log.h"

namespace {
EventSink* gSink = nullptr;
}  // namespace

void setEventSink(EventSink* sink) { gSink = sink; }

void postEvent(Notify notify) {
  if (gSink == nullptr) THROW_ERROR("Trying to post event without server connection");
  gSink->postEvent(notify);
}

std::string postingRefusal() { return gSink == nullptr ? std::string() : gSink->refusal(); }

std::string notStoredText(const std::string& refusal) {
  return "Not stored: " + refusal + "; try again when it is back.";
}
