#pragma once
// What the device app's tests share: a recorder of the events the service posts,
// segments of their own, and requests sent through the service's FastCGI listener.
#include <map>
#include <string>
#include <vector>

#include "apps/common/event/eventsink.h"
#include "apps/common/event/notify.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"

namespace qortest {

// The process's event sink while alive: records what the app posts.
class EventRecorder : public EventSink {
 public:
  EventRecorder() { setEventSink(this); }
  ~EventRecorder() { setEventSink(nullptr); }
  void postEvent(Notify const& notify) override { posted.push_back(notify); }
  // Event numbers posted since the last call.
  std::vector<uint32_t> take();

 private:
  std::vector<Notify> posted;
};

// Zeroed payloads of the three memories the device app uses, bound to their pointer globals.
class Segments {
 public:
  Segments();
  ~Segments();
  char* persistent() { return persistentPayload.data(); }
  char* externalDevices() { return externalDevicesPayload.data(); }
  char* media() { return mediaPayload.data(); }
  void setInt(char* memory, uint32_t offset, int32_t value);
  int32_t getInt(const char* memory, uint32_t offset);

 private:
  std::vector<char> persistentPayload;
  std::vector<char> externalDevicesPayload;
  std::vector<char> mediaPayload;
};

// A scratch folder removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return root; }
  std::string operator/(const std::string& name) const { return root + "/" + name; }

 private:
  std::string root;
};

QorApp::Paths pathsIn(const TempDir& dir);

// Sends one request over TCP to a listener that hands it to app; returns the STDOUT sent back, head included.
std::string serve(QorApp& app, int version, const std::map<std::string, std::string>& params,
                  const std::string& body = "");

constexpr const char* kHead = "Content-type: application/json\r\n\r\n";

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace qortest
