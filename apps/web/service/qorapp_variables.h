#pragma once
// Places (payload offsets) and change events of the shared-memory variables that the device app
// reads and writes in place, without the name lookup.
#include <cstdint>

#include "apps/common/event/notify.h"

namespace qorvars {
// MemPersistent
constexpr uint32_t kProductName = 0;
constexpr uint32_t kProductVersion = 20;
constexpr uint32_t kProductTextSize = 20;

// MemExternalDevices: the accessory list and the accessory update.
constexpr uint32_t kPeltDeviceList = 4;
constexpr uint32_t kPeltDeviceCount = 16;
constexpr uint32_t kPeltDeviceSize = 212;
constexpr uint32_t kPeltDeviceConnected = 0;
constexpr uint32_t kPeltSerNumber = 8;
constexpr uint32_t kPeltDeviceName = 12;
constexpr uint32_t kPeltMainSwVersion = 112;
constexpr uint32_t kPeltTextSize = 50;

constexpr uint32_t kPeltUpdateDeviceName = 3396;
constexpr uint32_t kPeltUpdateDeviceSerial = 3448;
constexpr uint32_t kPeltUpdateFileName = 3452;
constexpr uint32_t kPeltUpdateStart = 3580;
constexpr uint32_t kPeltUpdateProgress = 3584;
constexpr uint32_t kPeltUpdateIndex = 3640;
constexpr uint32_t kPeltUpdateCount = 3644;
constexpr uint32_t kPeltUpdateState = 3648;

// MemMedia: the update of the unit itself.
constexpr uint32_t kHostUpdateFileName = 1288;
constexpr uint32_t kHostUpdateFileState = 1416;
constexpr uint32_t kHostUpdateStart = 1430;

constexpr uint32_t kFileNameSize = 128;

constexpr Notify kPeltUpdateStateChanged{249, 0, 0};
constexpr Notify kPeltUpdateDeviceNameChanged{250, 0, 0};
constexpr Notify kPeltUpdateDeviceSerialChanged{251, 0, 0};
constexpr Notify kPeltUpdateProgressChanged{256, 0, 0};
constexpr Notify kPeltUpdateFileNameChanged{266, 0, 0};
constexpr Notify kPeltUpdateStartChanged{267, 0, 0};
constexpr Notify kHostUpdateFileNameChanged{898, 0, 0};
constexpr Notify kHostUpdateStartChanged{900, 0, 0};

// UpdateState values the service acts on.
constexpr int32_t kNoFileSelected = 0;
constexpr int32_t kFileValid = 2;
constexpr int32_t kRebooting = 9;
}  // namespace qorvars
