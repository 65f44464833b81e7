#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "apps/common/event/eventsink.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/qorapp_multipart.h"
#include "apps/web/service/request.h"
#include "apps/web/service/storedfile.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace media = catalogue::MemMedia;
namespace devices = catalogue::MemExternalDevices;

template <typename T>
void store(const VariablePlace& place, const T& value) {
  setVariable(*reinterpret_cast<T*>(placeAddress(place)), place.event, value);
}

template <std::size_t N>
void storeText(const Place<std::array<char, N>>& place, const char* text) {
  setVariable(*place.at(), place.event, text);
}

int32_t readInt(const VariablePlace& place) {
  int32_t value;
  std::memcpy(&value, placeAddress(place), sizeof value);
  return value;
}

// A start variable, one byte; false while its memory is not attached.
bool started(const VariablePlace& place) {
  const char* memory = *MEMORY_POINTER_ARRAY[place.mem];
  return memory != nullptr && memory[place.offset] != 0;
}

// The state's name; a value outside the enumeration is named with its number.
std::string stateName(int32_t state) {
  if (state >= 0 && static_cast<uint32_t>(state) < UPDATESTATE_NAME_ARRAY_SIZE) return UPDATESTATE_NAME_ARRAY[state];
  return "INVALID_VALUE: " + std::to_string(state);
}

enum class Serial { Valid, NotANumber, OutOfRange };

// Base 10, leading blanks and one sign allowed, stops at the first non-digit; must fit 32 bits.
Serial parseSerial(const std::string& text, int32_t& serial) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (end == start) return Serial::NotANumber;
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return Serial::OutOfRange;
  serial = static_cast<int32_t>(value);
  return Serial::Valid;
}

void answer(Request* request, const std::string& result) {
  request->output() << "{\"result\": \"" << JsonEscaped{result} << "\" }";
}

constexpr const char* kBusy = "Busy: an update is being installed; try again once it has ended.";

// States in which the updater works on the file of an update it has been given the go-ahead for.
bool installing(int32_t state) {
  namespace update = catalogue::UpdateState;
  return state == update::FileValid || state == update::CopyingFile || state == update::Rebooting ||
         state == update::InProgress;
}

// The body of an update as it arrives: the file part to a temporary file beside the targets, the
// other fields kept, and the raw body to the dump at the most verbose level. A refused upload
// (another one is being installed, or the body is no form) skips its body.
class UpdateUpload : public BodySink {
 public:
  UpdateUpload(const std::string& boundary, const std::string& tempPrefix, const std::string& dumpPath)
      : parser(boundary, [this](std::string_view bytes) { return file.write(bytes); }), file(tempPrefix) {
    if (!dumpPath.empty()) dump.open(dumpPath, std::ios::binary | std::ios::trunc);
  }

  bool take(std::string_view piece) override {
    if (dump.is_open()) dump.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    return file.opened() && parser.feed(piece);
  }

  MultipartParser parser;
  StoredFile file;
  std::ofstream dump;
};
}  // namespace

bool QorApp::installRunning() const {
  return (started(media::HostUpdateStart) && installing(readInt(media::HostUpdateFileState))) ||
         (started(devices::PeltUpdateStart) && installing(readInt(devices::PeltUpdateState)));
}

void QorApp::takeUpdate(Request* request) {
  const std::string boundary = MultipartParser::boundaryOf(request->param("CONTENT_TYPE"));
  if (boundary.empty() || installRunning() || !postingRefusal().empty()) {
    request->streamBodyTo(std::make_unique<SkippedBody>());
    return;
  }
  const bool dump = gComponentLogLevel == nullptr || *gComponentLogLevel == gen::DebugAll;
  request->streamBodyTo(
      std::make_unique<UpdateUpload>(boundary, paths.uploadFile + "-", dump ? paths.postDataDump : std::string()));
}

void QorApp::update(Request* request) {
  // The updater starts on the announcements: an upload they would never reach is refused untouched.
  if (const std::string refused = postingRefusal(); !refused.empty()) {
    answer(request, notStoredText(refused));
    return;
  }
  auto* upload = dynamic_cast<UpdateUpload*>(request->bodySink());
  if (installRunning()) {
    LOG(Warn, "Upload refused: an update is being installed.");
    answer(request, kBusy);
    return;
  }
  if (upload == nullptr) {
    // Its body was skipped: no form, or an install ran (or the broker was away) when it began.
    answer(request,
           MultipartParser::boundaryOf(request->param("CONTENT_TYPE")).empty() ? "Invalid content type" : kBusy);
    return;
  }
  MultipartParser& parser = upload->parser;
  if (!upload->file.opened() || parser.writeFailed()) {
    LOG(Warn, "Could not store the update file: %s", upload->file.errorText().c_str());
    answer(request, "Could not store the update file: " + upload->file.errorText());
    return;
  }
  if (parser.failed()) {
    answer(request, parser.failureText());
    return;
  }
  if (!parser.complete()) {
    LOG(Warn, "The upload ended before its closing delimiter.");
    answer(request, "The upload ended before its closing delimiter.");
    return;
  }
  const MultipartParser::Fields& fields = parser.fields();
  LOG(DebugAll, "Request content:");
  for (const auto& [name, value] : fields) LOG(DebugAll, "  \"%s\": \"%s\"", name.c_str(), value.c_str());
  auto deviceField = fields.find("deviceid");
  if (deviceField == fields.end() || fields.find("file") == fields.end()) {
    LOG(Warn, "'deviceid' and 'file' are mandatory, but at least one is missing.");
    answer(request, "'deviceid' and 'file' are mandatory, but at least one is missing.");
    return;
  }
  const std::string& id = deviceField->second;
  size_t dash = id.rfind('-');
  if (dash == std::string::npos) {
    LOG(Warn, "'deviceid' has to be in the form DEVICE-SERIAL, but it is %s.", id.c_str());
    answer(request, "'deviceid' has to be in the form DEVICE-SERIAL.");
    return;
  }
  LOG(LogLight, "Received update file for device ID %s, our device ID is %s.", id.c_str(), deviceId.c_str());
  if (id == deviceId) {
    if (!upload->file.commit(paths.hostUpdateFile)) {
      LOG(Warn, "Could not store %s: %s", paths.hostUpdateFile.c_str(), upload->file.errorText().c_str());
      answer(request, "Could not store the update file: " + upload->file.errorText());
      return;
    }
    // Every upload starts a check of its own, also of a file under the name already set.
    store(media::HostUpdateFileState, catalogue::UpdateState::NoFileSelected);
    store(media::HostUpdateStart, uint8_t{0});
    storeText(media::HostUpdateFileName, "");
    storeText(media::HostUpdateFileName, paths.hostUpdateFile.c_str());
    lastTarget = UpdateTarget::Unit;
  } else if (!updateAccessory(request, id, dash)) {
    return;
  }
  request->output() << "{\"taskid\": \"" << JsonEscaped{id} << "\" }";
}

// Refuses a serial that is no 32-bit number before anything is moved or announced: the updater
// starts on the file name, and must never start on an update the client was told had failed.
bool QorApp::updateAccessory(Request* request, const std::string& id, size_t dash) {
  int32_t serial = 0;
  switch (parseSerial(id.substr(dash + 1), serial)) {
    case Serial::NotANumber:
      LOG(Warn, "The serial number of %s is not a number.", id.c_str());
      answer(request, "The serial number in 'deviceid' is not a number.");
      return false;
    case Serial::OutOfRange:
      LOG(Warn, "The serial number of %s is out of range.", id.c_str());
      answer(request, "The serial number in 'deviceid' is out of range.");
      return false;
    case Serial::Valid:
      break;
  }
  auto* upload = static_cast<UpdateUpload*>(request->bodySink());
  if (!upload->file.commit(paths.clientUpdateFile)) {
    LOG(Warn, "Could not store %s: %s", paths.clientUpdateFile.c_str(), upload->file.errorText().c_str());
    answer(request, "Could not store the update file: " + upload->file.errorText());
    return false;
  }
  store(devices::PeltUpdateState, catalogue::UpdateState::NoFileSelected);
  store(devices::PeltUpdateProgress, 0);
  store(devices::PeltUpdateStart, uint8_t{0});
  store(devices::PeltUpdateIndex, 0);
  store(devices::PeltUpdateCount, 0);
  storeText(devices::PeltUpdateFileName, "");
  storeText(devices::PeltUpdateFileName, paths.clientUpdateFile.c_str());
  store(devices::PeltUpdateDeviceSerial, serial);
  storeText(devices::PeltUpdateDeviceName, id.substr(0, dash).c_str());
  lastTarget = UpdateTarget::Accessory;
  return true;
}

void QorApp::updateStatus(Request* request) {
  int32_t state;
  int32_t progress = 0;
  if (lastTarget == UpdateTarget::Unit) {
    state = readInt(media::HostUpdateFileState);
    // The go-ahead is given only when it can be announced; a later status request gives it.
    if (state == catalogue::UpdateState::FileValid && postingRefusal().empty()) {
      store(media::HostUpdateStart, uint8_t{1});
      state = catalogue::UpdateState::Rebooting;
    }
  } else {
    state = readInt(devices::PeltUpdateState);
    int32_t count = readInt(devices::PeltUpdateCount);
    // Computed wide: the unit's other processes may leave any values here.
    if (count != 0) {
      int64_t done = int64_t{readInt(devices::PeltUpdateProgress)} + 100 * int64_t{readInt(devices::PeltUpdateIndex)};
      progress = static_cast<int32_t>(done / count);
    }
    if (state == catalogue::UpdateState::FileValid && postingRefusal().empty())
      store(devices::PeltUpdateStart, uint8_t{1});
  }
  std::string name = stateName(state);
  LOG(LogLight, "Update Status: %s, %i%%", name.c_str(), progress);
  request->output() << "{\"status\": \"" << JsonEscaped{name} << "\", \"progress\": " << progress << " }";
}
