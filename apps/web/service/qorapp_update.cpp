#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace media = catalogue::MemMedia;
namespace devices = catalogue::MemExternalDevices;

template <typename T>
void store(const VariablePlace& place, const T& value) {
  setVariable(*reinterpret_cast<T*>(placeAddress(place)), place.event, value);
}

// N is the place's size, given where the place is named.
template <std::size_t N>
void storeText(const VariablePlace& place, const char* text) {
  auto& target = *reinterpret_cast<std::array<char, N>*>(placeAddress(place));
  setVariable(target, place.event, text);
}

int32_t readInt(const VariablePlace& place) {
  int32_t value;
  std::memcpy(&value, placeAddress(place), sizeof value);
  return value;
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
}  // namespace

void QorApp::update(Request* request) {
  if (gComponentLogLevel == nullptr || *gComponentLogLevel == gen::DebugAll) {
    std::ofstream dump(paths.postDataDump, std::ios::binary | std::ios::trunc);
    dump.write(request->postData.data(), static_cast<std::streamsize>(request->postData.size()));
  }
  std::map<std::string, std::string> fields;
  if (!parseFormData(request, fields, paths.uploadFile.c_str())) {
    answer(request, "Invalid content type");
    return;
  }
  LOG(DebugAll, "Request content:");
  for (const auto& [name, value] : fields) LOG(DebugAll, "  \"%s\": \"%s\"", name.c_str(), value.c_str());
  if (fields.find("deviceid") == fields.end() || fields.find("file") == fields.end()) {
    LOG(Warn, "'deviceid' and 'file' are mandatory, but at least one is missing.");
    answer(request, "'deviceid' and 'file' are mandatory, but at least one is missing.");
    return;
  }
  const std::string& id = fields["deviceid"];
  size_t dash = id.rfind('-');
  if (dash == std::string::npos) {
    LOG(Warn, "'deviceid' has to be in the form DEVICE-SERIAL, but it is %s.", id.c_str());
    answer(request, "'deviceid' has to be in the form DEVICE-SERIAL.");
    return;
  }
  LOG(LogLight, "Received update file for device ID %s, our device ID is %s.", id.c_str(), deviceId.c_str());
  if (id == deviceId) {
    if (std::rename(fields["file"].c_str(), paths.hostUpdateFile.c_str()) != 0) {
      LOG(Warn, "Could not move %s to %s: %s", fields["file"].c_str(), paths.hostUpdateFile.c_str(),
          std::strerror(errno));
      answer(request, std::string("Could not store the update file: ") + std::strerror(errno));
      return;
    }
    storeText<media::HostUpdateFileName.size>(media::HostUpdateFileName, paths.hostUpdateFile.c_str());
    hostUpdatePending = true;
  } else if (!updateAccessory(request, id, dash, fields["file"])) {
    return;
  }
  request->output() << "{\"taskid\": \"" << JsonEscaped{id} << "\" }";
}

// Refuses a serial that is no 32-bit number before anything is moved or announced: the updater
// starts on the file name, and must never start on an update the client was told had failed.
bool QorApp::updateAccessory(Request* request, const std::string& id, size_t dash, const std::string& file) {
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
  if (std::rename(file.c_str(), paths.clientUpdateFile.c_str()) != 0) {
    int error = errno;
    LOG(Warn, "Could not move %s to %s: %s", file.c_str(), paths.clientUpdateFile.c_str(), std::strerror(error));
    answer(request, std::string("Could not store the update file: ") + std::strerror(error));
    return false;
  }
  store(devices::PeltUpdateState, catalogue::UpdateState::NoFileSelected);
  store(devices::PeltUpdateProgress, 0);
  storeText<devices::PeltUpdateFileName.size>(devices::PeltUpdateFileName, "");
  storeText<devices::PeltUpdateFileName.size>(devices::PeltUpdateFileName, paths.clientUpdateFile.c_str());
  store(devices::PeltUpdateDeviceSerial, serial);
  storeText<devices::PeltUpdateDeviceName.size>(devices::PeltUpdateDeviceName, id.substr(0, dash).c_str());
  return true;
}

void QorApp::updateStatus(Request* request) {
  int32_t state;
  int32_t progress = 0;
  if (hostUpdatePending) {
    state = readInt(media::HostUpdateFileState);
    if (state == catalogue::UpdateState::FileValid) {
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
    if (state == catalogue::UpdateState::FileValid) store(devices::PeltUpdateStart, uint8_t{1});
  }
  std::string name = stateName(state);
  LOG(LogLight, "Update Status: %s, %i%%", name.c_str(), progress);
  request->output() << "{\"status\": \"" << JsonEscaped{name} << "\", \"progress\": " << progress << " }";
}
