#include "apps/common/introspection/testcatalogue.h"

#include <cctype>
#include <stdexcept>
#include <utility>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/introspection.h"

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
  try {
    action();
  } catch (const std::runtime_error& error) {
    std::string text = error.what();
    std::size_t at = text.find(':') + 1;
    while (at < text.size() && text[at] == ' ') ++at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    return text.substr(at + 1);
  }
  return "no failure";
}

RowRef findRow(const std::string& memory, const std::string& name) {
  RowRef row{Introspection::getMemIndex(memory), 0};
  if (!Introspection::findVariable(row.mem, name, row.var)) throw std::invalid_argument("no variable " + name);
  return row;
}

void storeText(const std::string& memory, const std::string& name, const char* text) {
  std::strcpy(findRow(memory, name).address(), text);
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
