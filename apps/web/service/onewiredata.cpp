#include "apps/web/service/onewiredata.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <optional>

#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/childprocess.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"
#include "gen/code/introspection_gen.h"

namespace {

struct RingType {
  const char* name;
  const char* digit;
  const char* valueKey;
};

constexpr RingType kRingTypes[] = {
    {"Focus Metric", "1", "focusCloseValue"},
    {"Focus Imperial", "2", "focusCloseValue"},
    {"Focus Custom", "3", "focusCloseValue"},
    {"Iris", "4", "irisValue"},
    {"Iris Custom", "5", "irisValue"},
    {"Focus Metric Left", "6", "focusCloseValue"},
    {"Focus Imperial Left", "7", "focusCloseValue"},
    {"Focus Metric Reverse", "8", "focusCloseValue"},
    {"Focus Imperial Reverse", "9", "focusCloseValue"},
};

struct ModemLetter {
  char letter;
  const char* type;
};

constexpr ModemLetter kModemLetters[] = {{'A', "Varn"}, {'B', "P2400"}, {'D', "P900"}};

namespace serviceMode = catalogue::MemServiceMode;
constexpr const VariablePlace& kRingAutoDetect = catalogue::MemPersistent::PreMarkedRingAutoDet;

std::string valueOf(const VariablePlace& place) { return Introspection::getVarValue(place.mem, place.var, 0); }

// Stores the value and announces it only when it differs from what the variable holds.
void storeIfChanged(const VariablePlace& place, const std::string& value) {
  if (valueOf(place) == value) return;
  std::string answer = Introspection::setVarValue(place.mem, place.var, value.c_str());
  if (!answer.empty()) THROW_ERROR("%s: %s", Introspection::getVarName(place.mem, place.var), answer.c_str());
}

nlohmann::json parseBody(const std::string& body) { return nlohmann::json::parse(body, nullptr, true, false); }

}  // namespace

int dateCode(const std::tm& now) { return 100 * (now.tm_year - 100) + (now.tm_yday - now.tm_wday + 7) / 7; }

std::string ringText(const nlohmann::json& body, const std::tm& now) {
  std::string text = std::to_string(dateCode(now)) + "\n";
  std::string type;
  RequestHandler::appendJsonKey(body, "ringType", type);
  for (const RingType& ring : kRingTypes) {
    if (type != std::string(ring.name) + "\n") continue;
    text += std::string(ring.digit) + "\n";
    RequestHandler::appendJsonKey(body, ring.valueKey, text);
    return text;
  }
  THROW_ERROR("Unit has an invalid value: %s", type.c_str());
}

bool runOneWireTool(const std::string& text, const OneWireTool& tool) {
  // Written whole before the tool starts, so that neither side can wait for the other.
  if (text.size() > PIPE_BUF) THROW_ERROR("Ring text of %u bytes is too long", static_cast<unsigned>(text.size()));
  Descriptor log(::open(tool.logDevice.c_str(), O_WRONLY | O_CLOEXEC));
  if (log.fd < 0) THROW_ERROR_NUMBER(tool.logDevice.c_str());
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) THROW_ERROR_NUMBER("pipe");
  Descriptor input(ends[0]);
  Descriptor feed(ends[1]);
  if (::write(feed.fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) THROW_ERROR_NUMBER("write");
  feed.reset();

  ChildProcess::Streams streams;
  streams.input = input.fd;
  streams.output = streams.error = log.fd;
  ChildProcess child({tool.program, "-e", "-m", "knob"}, streams);
  const std::optional<int> status = child.wait(tool.timeout);
  if (!status) {
    LOG(Error, "%s did not end within %lld ms", tool.program.c_str(), static_cast<long long>(tool.timeout.count()));
    return false;  // the child's destructor ends its group
  }
  return WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

void writeModemData(const std::string& body) {
  try {
    nlohmann::json request = parseBody(body);
    std::string type;
    RequestHandler::appendJsonKey(request, "devType", type);
    storeIfChanged(serviceMode::ServiceMode1WireModemLabel, "Modem encryption started ...");
    for (const ModemLetter& modem : kModemLetters) {
      if (type[0] != modem.letter) continue;
      storeIfChanged(serviceMode::ServiceModeConnectedModemType, modem.type);
      return;
    }
    storeIfChanged(serviceMode::ServiceMode1WireModemLabel, "Unknown Modem type connected");
  } catch (...) {
    LOG(Error, "Writing to the modem's 1Wire failed");
  }
}

void writePremarkedData(const std::string& body, const std::tm& now, const OneWireTool& tool) {
  try {
    storeIfChanged(serviceMode::ServiceModeWritingToRing1Wire, "true");
    storeIfChanged(serviceMode::ServiceMode1WireRingLabel, "-");
    std::string text = ringText(parseBody(body), now);
    // The tool reads its input as a line, ended like the text the shell's echo would hand it.
    if (!runOneWireTool(text + "\n", tool)) THROW_ERROR("Error during calling onewire-tool.py");
    LOG(LogLight, "Premarked-ring encryption successful");
    // A pulse, so that the change is announced even when the ring was detected before.
    if (valueOf(kRingAutoDetect) == "true") storeIfChanged(kRingAutoDetect, "false");
    storeIfChanged(kRingAutoDetect, "true");
  } catch (...) {
    LOG(Error, "Writing to the premarked ring's 1Wire failed");
  }
  try {
    storeIfChanged(serviceMode::ServiceModeWritingToRing1Wire, "false");
  } catch (...) {
    // The failure has written its own Error line.
  }
}

void handleModemData(Request* request) {
  writeModemData(request->postData);
  request->output();
  request->end();
}

void handlePremarkedData(Request* request, const OneWireTool& tool) {
  std::time_t seconds = std::time(nullptr);
  std::tm now{};
  ::localtime_r(&seconds, &now);
  writePremarkedData(request->postData, now, tool);
  request->output();
  request->end();
}
