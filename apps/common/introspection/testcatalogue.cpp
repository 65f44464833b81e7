#include "apps/common/introspection/testcatalogue.h"

#include <cctype>
#include <stdexcept>

#include "apps/common/event/serverconnection.h"

namespace {
std::vector<Notify> posted;
}  // namespace

// Takes the place of the broker client's postEvent in test programs.
void postEvent(Notify notify) { posted.push_back(notify); }

std::vector<Notify> takePostedEvents() {
  std::vector<Notify> events;
  events.swap(posted);
  return events;
}

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
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    if (memory != MEMORY_ARRAY[mem].name) continue;
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      if (name == MEMORY_ARRAY[mem].rows[var].name) return {mem, var};
    }
  }
  throw std::invalid_argument("no variable " + memory + "." + name);
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
