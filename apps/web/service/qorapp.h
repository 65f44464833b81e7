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

  void handleRequest(Request* request, int version);
  void deviceInfo(Request* request);

  void listOperation(Request* request, const char* folder, int version);
  void listRecursive(Request* request, const std::filesystem::path& folder, int depth);
  void fileOperation(Request* request, const char* folder, const std::string& name);

  void update(Request* request);
  void updateStatus(Request* request);
  bool parseFormData(Request* request, std::map<std::string, std::string>& fields, const char* filePath);
  static void splitHeaderLine(std::map<std::string, std::string>& out, const std::string& line);

 private:
  void listFlat(Request* request, const char* folder);
  // The nested walk with the folders it has entered, so a link back into the walk ends it.
  void listNested(Request* request, const std::filesystem::path& folder, int depth,
                  std::set<std::filesystem::path>& entered);
  bool updateAccessory(Request* request, const std::string& id, size_t dash, const std::string& file);

  std::string deviceId;
  std::string serialNumber;
  bool hostUpdatePending = false;
  Paths paths;
};

std::string indent(int n);
