#pragma once
// The device app API under "/qorapp/v1" and "/qorapp/v2": the unit's identity, the user file
// folders, and software updates handed to the unit's updater.
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

class Request;

class QorApp {
 public:
  // Where the service keeps what it is given; the unit's paths unless a test moves them.
  struct Paths {
    std::string lensTables;
    std::string focusRings;
    std::string setups;
    std::string uploadFile;
    std::string hostUpdateFile;
    std::string clientUpdateFile;
    std::string postDataDump;
  };
  static Paths unitPaths();

  QorApp();
  // Identity given directly, for tests and tools that have no hardware record.
  QorApp(const std::string& board, const std::string& serial, Paths paths);

  // Before the body: the routes that store what they are sent take it as it arrives.
  void takeBody(Request* request);
  void handleRequest(Request* request, int version);
  void deviceInfo(Request* request);

  void listOperation(Request* request, const char* folder, int version);
  void listRecursive(Request* request, const std::filesystem::path& folder, int depth);
  void fileOperation(Request* request, const char* folder, const std::string& name);

  void update(Request* request);
  void updateStatus(Request* request);
  static void splitHeaderLine(std::map<std::string, std::string>& out, const std::string& line);

 private:
  void listFlat(Request* request, const char* folder);
  // The nested walk with the folders it has entered, so a link back into the walk ends it.
  void listNested(Request* request, const std::filesystem::path& folder, int depth,
                  std::set<std::filesystem::path>& entered);
  void takeUpdate(Request* request);
  void takeFile(Request* request, const std::string& folder, const std::string& name);
  bool updateAccessory(Request* request, const std::string& id, size_t dash);
  // The unit's updater installs what an earlier upload gave it: a new file now would replace it.
  bool installRunning() const;
  // The folder and name a route of the file folders names; false for any other path.
  bool folderFile(std::string_view path, const std::string*& folder, std::string_view& rest) const;

  std::string deviceId;
  std::string serialNumber;
  // Whose update the status route reports: that of the last upload accepted.
  enum class UpdateTarget { None, Unit, Accessory };
  UpdateTarget lastTarget = UpdateTarget::None;
  Paths paths;
};

std::string indent(int n);
