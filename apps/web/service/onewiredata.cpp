#include "apps/web/service/onewiredata.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requesthandler.h"
#include "gen/code/introspection_gen.h"

namespace {

// What a ring's value may be: the close focus in metres or in feet, or the widest stop of an iris
// ring. The focus ranges span the close-focus marks the unit knows for premarked rings.
struct ValueRange {
  double least;
  double most;
};
constexpr ValueRange kMetres{0.2, 3};
constexpr ValueRange kFeet{0.8, 10};
constexpr ValueRange kMetresOrFeet{0.2, 10};
constexpr ValueRange kStop{0.7, 45};

struct RingType {
  const char* name;
  const char* digit;
  const char* valueKey;
  ValueRange range;
};

constexpr RingType kRingTypes[] = {
    {"Focus Metric", "1", "focusCloseValue", kMetres},
    {"Focus Imperial", "2", "focusCloseValue", kFeet},
    {"Focus Custom", "3", "focusCloseValue", kMetresOrFeet},
    {"Iris", "4", "irisValue", kStop},
    {"Iris Custom", "5", "irisValue", kStop},
    {"Focus Metric Left", "6", "focusCloseValue", kMetres},
    {"Focus Imperial Left", "7", "focusCloseValue", kFeet},
    {"Focus Metric Reverse", "8", "focusCloseValue", kMetres},
    {"Focus Imperial Reverse", "9", "focusCloseValue", kFeet},
};

// Longer than any value a ring takes; the text handed to the tool stays a few dozen bytes.
constexpr size_t kMaxValueLength = 16;

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

// A body the ring route will not hand to the tool; the text is the answer's error.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const std::string& text) {
  LOG(Error, "%s", text.c_str());
  throw Refused(text);
}

// Digits with at most one decimal point between digits: nothing a shell, a line or a sign could use.
bool isDecimal(const std::string& text) {
  if (text.empty() || text.size() > kMaxValueLength) return false;
  bool point = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') continue;
    if (text[i] != '.' || point || i == 0 || i + 1 == text.size()) return false;
    point = true;
  }
  return true;
}

std::string shortest(double number) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, number).ptr);
}

// The ring's value as the tool gets it: the text as sent, or the JSON number in its shortest form.
std::string ringValue(const nlohmann::json& body, const RingType& ring) {
  const auto member = body.find(ring.valueKey);
  if (member == body.end()) refuse(std::string("Key: '") + ring.valueKey + "' is missing");
  double value = 0;
  std::string text;
  if (member->is_number()) {
    value = member->get<double>();
    text = member->dump();
  } else if (member->is_string() && isDecimal(member->get_ref<const std::string&>())) {
    text = member->get<std::string>();
    std::from_chars(text.data(), text.data() + text.size(), value);
  } else {
    refuse(std::string(ring.valueKey) + " is not a number");
  }
  if (!(value >= ring.range.least && value <= ring.range.most))
    refuse(std::string(ring.valueKey) + " " + text + " is not between " + shortest(ring.range.least) + " and " +
           shortest(ring.range.most) + " for " + ring.name);
  // A number in range prints as digits and a point; checked all the same, since the text goes to the tool.
  if (!isDecimal(text)) refuse(std::string(ring.valueKey) + " is not a number");
  return text;
}

}  // namespace

int dateCode(const std::tm& now) { return 100 * (now.tm_year - 100) + (now.tm_yday - now.tm_wday + 7) / 7; }

std::string ringText(const nlohmann::json& body, const std::tm& now) {
  if (!body.is_object()) refuse("The body is not a JSON object");
  const auto type = body.find("ringType");
  if (type == body.end()) refuse("Key: 'ringType' is missing");
  if (!type->is_string()) refuse("ringType is not a text");
  for (const RingType& ring : kRingTypes) {
    if (*type != ring.name) continue;
    return std::to_string(dateCode(now)) + "\n" + ring.digit + "\n" + ringValue(body, ring) + "\n";
  }
  // Logged with the line feed the type text once carried.
  const std::string name = type->get<std::string>();
  LOG(Error, "Unit has an invalid value: %s\n", name.c_str());
  throw Refused("Unit has an invalid value: " + name);
}

void writeModemData(const std::string& body) {
  if (const std::string refused = postingRefusal(); !refused.empty()) {
    LOG(Warn, "%s", notStoredText(refused).c_str());
    return;
  }
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

void handleModemData(Request* request) {
  writeModemData(request->postData);
  request->output();
  request->end();
}

PremarkedRing::PremarkedRing(EventPoll& poll, Fcgi& fcgi, OneWireTool tool)
    : fcgi(fcgi), tool(std::move(tool)), watch(poll) {}

void PremarkedRing::handle(Request* request) {
  std::time_t seconds = std::time(nullptr);
  std::tm now{};
  ::localtime_r(&seconds, &now);
  handle(request, now);
}

void PremarkedRing::handle(Request* request, const std::tm& now) {
  if (busy()) {
    // One bus, one writer: the flag and the running write are left as they are.
    LOG(Warn, "Premarked ring refused: another ring is being written");
    request->output() << "{\"result\": 0, \"error\": \"Another ring is being written\" }";
    request->end();
    return;
  }
  // The ring's state flags are announced to the unit: without the broker nothing is started.
  if (const std::string refused = postingRefusal(); !refused.empty()) {
    request->output() << "{\"result\": 0, \"error\": \"" << JsonEscaped{notStoredText(refused)} << "\" }";
    request->end();
    return;
  }
  const unsigned int requestId = request->id;
  try {
    storeIfChanged(serviceMode::ServiceModeWritingToRing1Wire, "true");
    storeIfChanged(serviceMode::ServiceMode1WireRingLabel, "-");
    nlohmann::json body;
    try {
      body = parseBody(request->postData);
    } catch (const nlohmann::json::exception&) {
      refuse("The body is not JSON");
    }
    start(ringText(body, now), requestId);
  } catch (const Refused& refusal) {
    finish(requestId, refusal.what());
  } catch (const std::exception&) {
    finish(requestId, "Error during calling onewire-tool.py");
  }
}

void PremarkedRing::start(const std::string& text, unsigned int requestId) {
  Descriptor log(::open(tool.logDevice.c_str(), O_WRONLY | O_CLOEXEC));
  if (log.fd < 0) THROW_ERROR_NUMBER(tool.logDevice.c_str());
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) THROW_ERROR_NUMBER("pipe");
  Descriptor input(ends[0]);
  Descriptor feed(ends[1]);
  // The text is a few dozen bytes: an empty pipe takes it whole, and the tool finds it all there when
  // it starts. Non-blocking all the same, so that nothing could hold the loop here.
  const int flags = ::fcntl(feed.fd, F_GETFL);
  if (flags < 0 || ::fcntl(feed.fd, F_SETFL, flags | O_NONBLOCK) != 0) THROW_ERROR_NUMBER("fcntl");
  // The tool reads its input as a line, ended like the text the shell's echo would hand it.
  const std::string line = text + "\n";
  if (::write(feed.fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) THROW_ERROR_NUMBER("write");
  feed.reset();

  ChildProcess::Streams streams;
  streams.input = input.fd;
  streams.output = streams.error = log.fd;
  watch.start({tool.program, "-e", "-m", "knob"}, streams, tool.timeout,
              [this, requestId](std::optional<int> status) { toolEnded(requestId, status); });
}

void PremarkedRing::toolEnded(unsigned int requestId, std::optional<int> status) {
  if (!status) {
    LOG(Error, "%s did not end within %lld ms", tool.program.c_str(), static_cast<long long>(tool.timeout.count()));
  } else if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
    LOG(Error, "Error during calling onewire-tool.py");
  } else {
    LOG(LogLight, "Premarked-ring encryption successful");
    try {
      // A pulse, so that the change is announced even when the ring was detected before.
      if (valueOf(kRingAutoDetect) == "true") storeIfChanged(kRingAutoDetect, "false");
      storeIfChanged(kRingAutoDetect, "true");
    } catch (const std::exception&) {
      // The failure has written its own Error line; the ring itself is written.
    }
    finish(requestId, "");
    return;
  }
  finish(requestId, "Error during calling onewire-tool.py");
}

void PremarkedRing::finish(unsigned int requestId, const std::string& error) {
  if (!error.empty()) LOG(Error, "Writing to the premarked ring's 1Wire failed");
  try {
    storeIfChanged(serviceMode::ServiceModeWritingToRing1Wire, "false");
  } catch (const std::exception&) {
    // The failure has written its own Error line.
  }
  Request* request = fcgi.request(requestId);
  if (request == nullptr) {
    LOG(LogLight, "Request %u went away before its ring was written", requestId);
    return;
  }
  try {
    std::ostream& out = request->output();
    if (!error.empty()) out << "{\"result\": 0, \"error\": \"" << JsonEscaped{error} << "\" }";
    request->end();
  } catch (const std::exception&) {
    // Reported by the request; its connection is gone.
  }
}
