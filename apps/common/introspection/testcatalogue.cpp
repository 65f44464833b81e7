#include "apps/common/introspection/testcatalogue.h"

#include <cctype>
#include <stdexcept>
#include <utility>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/introspection.h"
#include "tests/unit/error_text.h"

namespace {
class EventRecorder : public EventSink {
 public:
  void postEvent(Notify const& notify) override { events.push_back(notify); }
  std::vector<Notify> events;
};

EventRecorder& recorder() {
  static EventRecorder instance;
  setEventSink(&instance);
  return instance;
}
}  // namespace

std::vector<Notify> takePostedEvents() { return std::exchange(recorder().events, {}); }

std::string failureMessage(const std::function<void()>& action) {
  const std::string text = testsupport::errorOf(action);
  std::size_t at = text.find(':') + 1;
  while (at < text.size() && text[at] == ' ') ++at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  return text.substr(at + 1);
}

RowRef findRow(const std::string& memory, const std::string& name) {
  RowRef row{Introspection::getMemIndex(memory), 0};
  if (!Introspection::findVariable(row.mem, name, row.var)) throw std::invalid_argument("no variable " + name);
  return row;
}

std::string hostileBytes() {
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  return bytes + "\"\\\"\\\\\x80\xc0\xaf\xe0\x80\xaf\xf0\x80\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf8\x88\x80\x80\x80" +
         "\xe2\x82x\xe2\x82\xf0\x9f\x98\xc3";
}

TestPayloads::TestPayloads() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    payloads.emplace_back((MEMORY_ARRAY[mem].payloadSize + 3) / 4, 0u);
    *MEMORY_POINTER_ARRAY[mem] = reinterpret_cast<char*>(payloads.back().data());
  }
  takePostedEvents();
}

TestPayloads::~TestPayloads() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) *MEMORY_POINTER_ARRAY[mem] = nullptr;
}
