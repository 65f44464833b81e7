#include "apps/web/service/qorapp.h"

#include <sys/statvfs.h>

#include <cstring>
#include <exception>

#include "apps/common/constants/constants.h"
#include "apps/common/introspection/jsonstring.h"
#include "apps/common/log/log.h"
#include "apps/libs/lhwinfo/hwinfo.h"
#include "apps/web/service/request.h"
#include "apps/web/service/requestorigin.h"
#include "gen/code/introspection_gen.h"

namespace {
namespace persistent = catalogue::MemPersistent;
namespace pelt = catalogue::PeltDevice;
constexpr const VariablePlace& deviceList = catalogue::MemExternalDevices::PeltDeviceList;

constexpr const char* kUnknownRequest = "{\"result\": \"Unknown request\" }";
constexpr const char* kInvalidIdentity = "invalid";

// Text of a fixed-size field that another process may have left without its terminator.
std::string_view fieldText(const char* field, size_t size) { return {field, strnlen(field, size)}; }

int32_t fieldInt(const char* field) {
  int32_t value;
  std::memcpy(&value, field, sizeof value);
  return value;
}

// Rest of path after prefix, when path starts with it.
bool after(std::string_view path, std::string_view prefix, std::string_view& rest) {
  if (!path.starts_with(prefix)) return false;
  rest = path.substr(prefix.size());
  return true;
}
}  // namespace

QorApp::Paths QorApp::unitPaths() {
  std::string local = Constants::LOCAL_FOLDER;
  return {local + Constants::TAB_FOLDER,
          local + Constants::FOR_FOLDER,
          local + Constants::SETUPS_FOLDER,
          "/update/file-from-app",
          Constants::SUP_FILE,
          Constants::CMF_FILE,
          "/tmp/post-data"};
}

QorApp::QorApp() : paths(unitPaths()) {
  std::string board;
  // Without its hardware record the unit still serves everything else; its identity is then empty.
  // The failure has been written to the kernel log where it was raised.
  try {
    HwInfo hwInfo;
    hwInfo.initialize();
    // A damaged record names no unit: its identity is reported as invalid, never as what it happens to hold.
    if (!hwInfo.isValid()) {
      deviceId = serialNumber = kInvalidIdentity;
      return;
    }
    hwInfo.read(Constants::HWINFO_SERIAL, serialNumber);
    hwInfo.read(Constants::HWINFO_BOARD, board);
  } catch (const std::exception&) {
  }
  deviceId = board + "-" + serialNumber;
}

QorApp::QorApp(const std::string& board, const std::string& serial, Paths paths)
    : deviceId(board + "-" + serial), serialNumber(serial), paths(std::move(paths)) {}

bool QorApp::folderFile(std::string_view path, const std::string*& folder, std::string_view& rest) const {
  if (after(path, "/lenstables", rest))
    folder = &paths.lensTables;
  else if (after(path, "/focusrings", rest))
    folder = &paths.focusRings;
  else if (after(path, "/setups", rest))
    folder = &paths.setups;
  return folder != nullptr;
}

void QorApp::takeBody(Request* request) {
  const std::string& path = request->param("PATH_INFO");
  const std::string* folder = nullptr;
  std::string_view rest, name;
  try {
    if (path == "/device/update")
      takeUpdate(request);
    else if (folderFile(path, folder, rest) && after(rest, "/file", name) && request->param("REQUEST_METHOD") == "PUT")
      takeFile(request, *folder, std::string(name));
  } catch (const std::exception& e) {
    // Without a sink the body is held within its bound, and the route answers that it failed.
    LOG(Error, "QorApp: %s cannot take its body: %s", path.c_str(), e.what());
  }
}

void QorApp::handleRequest(Request* request, int version) {
  if (request == nullptr) return;
  const std::string path = request->param("PATH_INFO");
  LOG(LogMost, "QorApp: %s %s", request->param("REQUEST_METHOD").c_str(), path.c_str());
  std::string_view rest;
  try {
    if (after(path, "/device", rest)) {
      if (rest == "/info")
        deviceInfo(request);
      else if (rest == "/update")
        update(request);
      else if (!rest.starts_with("/status"))
        request->output() << kUnknownRequest;
      else if (!refuseCrossOrigin(*request))  // even a GET of the status gives an update its go-ahead
        updateStatus(request);
    } else {
      const std::string* folder = nullptr;
      folderFile(path, folder, rest);
      std::string_view name;
      if (folder != nullptr && rest == "/list")
        listOperation(request, folder->c_str(), version);
      else if (folder != nullptr && after(rest, "/file", name))
        fileOperation(request, folder->c_str(), std::string(name));
      else
        request->output() << kUnknownRequest;
    }
  } catch (const std::exception& e) {
    // Whatever a route could not handle must not end the service; the client learns it failed.
    LOG(Error, "QorApp: %s %s failed: %s", request->param("REQUEST_METHOD").c_str(), path.c_str(), e.what());
    request->output() << "{\"result\": \"Internal error\" }";
  }
  request->end();
}

void QorApp::deviceInfo(Request* request) {
  std::ostream& out = request->output();
  std::string_view name, version;
  if (gMemPersistent != nullptr) {
    name = fieldText(placeAddress(persistent::ProductName), persistent::ProductName.size);
    version = fieldText(placeAddress(persistent::ProductVersion), persistent::ProductVersion.size);
  }
  // 64-bit products: a card of 4 GiB or more overflows a 32-bit unsigned long.
  uint64_t total = 0, available = 0;
  struct statvfs fs;
  if (statvfs("/", &fs) == 0) {
    total = uint64_t{fs.f_blocks} * fs.f_bsize;
    available = uint64_t{fs.f_bavail} * fs.f_bsize;
  }
  out << "{\r\n";
  out << "  \"_id\": \"" << JsonEscaped{deviceId} << "\",\r\n";
  out << "  \"name\": \"" << JsonEscaped{name} << "\",\r\n";
  out << "  \"serialnumber\": \"" << JsonEscaped{serialNumber} << "\",\r\n";
  out << "  \"firmwareversion\": \"" << JsonEscaped{version} << "\",\r\n";
  out << "  \"space_total\": " << total << ",\r\n";
  out << "  \"space_available\": " << available << ",\r\n";
  out << "  \"devices\": [\r\n";
  bool first = true;
  for (uint32_t i = 0; gMemExternalDevices != nullptr && i < deviceList.count; ++i) {
    const char* device = placeAddress(deviceList, i);
    if (device[pelt::PeltDeviceConnected.offset] == 0) continue;
    std::string_view deviceName = fieldText(device + pelt::PeltDeviceName.offset, pelt::PeltDeviceName.size);
    int32_t serial = fieldInt(device + pelt::PeltSerNumber.offset);
    if (!first) out << ", \r\n";
    first = false;
    out << "    {\r\n";
    out << "      \"_id\": \"" << JsonEscaped{deviceName} << "-" << serial << "\",\r\n";
    out << "      \"name\": \"" << JsonEscaped{deviceName} << "\",\r\n";
    out << "      \"serialnumber\": \"" << serial << "\",\r\n";
    out << "      \"firmwareversion\": \""
        << JsonEscaped{fieldText(device + pelt::PeltMainSwVersion.offset, pelt::PeltMainSwVersion.size)} << "\"\r\n";
    out << "    }";
  }
  out << "\r\n  ]\r\n";
  out << "}\r\n";
}
