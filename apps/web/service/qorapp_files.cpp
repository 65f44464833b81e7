#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kSuccess = "{\"result\": \"Success\" }";
constexpr const char* kNoSuchFile = "{\"result\": \"No such file\" }";
constexpr const char* kOpenError = "{\"result\": \"Open error\" }\r\n";
constexpr const char* kWriteError = "{\"result\": \"Write error\" }";
constexpr const char* kUnknownRequest = "{\"result\": \"Unknown request\" }";

// A file name as a JSON string: names are bytes, whatever a client or the unit stored.
std::string quoted(const std::string& name) {
  std::string text = "\"";
  appendJsonEscaped(text, name);
  return text + '"';
}

// Type of a directory entry, through a link to what it leads to.
fs::file_type entryType(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.status(error).type();
}

// Whether folder + name stays strictly inside folder, after every link and ".." is resolved.
// A dangling link is refused too: writing through it would create its target wherever it points.
bool staysInside(const std::string& folder, const std::string& name) {
  for (const auto& part : fs::path(name))
    if (part == "..") return false;
  std::error_code error;
  fs::path root = fs::weakly_canonical(folder, error);
  if (error) return false;
  fs::path target = fs::weakly_canonical(folder + name, error);
  if (error) return false;
  fs::path relative = target.lexically_relative(root);
  if (relative.empty() || relative == "." || *relative.begin() == "..") return false;
  bool dangling = fs::is_symlink(fs::symlink_status(folder + name, error)) && !fs::exists(folder + name, error);
  return !dangling;
}
}  // namespace

std::string indent(int n) { return std::string(static_cast<size_t>(n > 0 ? n : 0), '\t'); }

void QorApp::listOperation(Request* request, const char* folder, int version) {
  if (version == 1)
    listFlat(request, folder);
  else
    listRecursive(request, folder, 0);
}

void QorApp::listFlat(Request* request, const char* folder) {
  request->output() << "[";
  const char* separator = "\r\n";
  std::error_code error;
  // A missing or unreadable folder lists as empty.
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (entryType(*it) != fs::file_type::regular) continue;
    request->output() << separator << quoted(it->path().filename().string());
    separator = ",\r\n";
  }
  request->output() << "\r\n]";
}

void QorApp::listRecursive(Request* request, const fs::path& folder, int depth) {
  std::set<fs::path> entered;
  listNested(request, folder, depth, entered);
}

void QorApp::listNested(Request* request, const fs::path& folder, int depth, std::set<fs::path>& entered) {
  request->output() << indent(depth) << "{\r\n"
                    << indent(depth + 1) << "\"name\": " << quoted(folder.filename().string()) << ",\r\n"
                    << indent(depth + 1) << "\"content\": [\r\n";
  std::error_code error;
  fs::path real = fs::canonical(folder, error);
  // A folder already listed in this walk (reached again through a link) is shown empty.
  if (!error && entered.insert(real).second) {
    const char* separator = "";
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      request->output() << separator;
      separator = ",\r\n";
      if (entryType(*it) == fs::file_type::directory)
        listNested(request, it->path(), depth + 2, entered);
      else
        request->output() << indent(depth + 2) << "{ \"name\": " << quoted(it->path().filename().string()) << " }";
    }
  }
  request->output() << "\r\n" << indent(depth + 1) << "]\r\n" << indent(depth) << "}";
}

void QorApp::fileOperation(Request* request, const char* folder, const std::string& name) {
  const std::string& method = request->param("REQUEST_METHOD");
  const std::string path = folder + name;
  std::error_code error;
  if (method == "GET") {
    // Only regular files: reading a FIFO would stall the single-threaded service.
    std::ifstream file;
    if (staysInside(folder, name) && fs::is_regular_file(path, error)) file.open(path, std::ios::binary);
    if (!file.is_open()) {
      request->output() << kNoSuchFile;
      return;
    }
    std::ostream& out = request->output();
    if (file.peek() != std::ifstream::traits_type::eof()) out << file.rdbuf();
  } else if (method == "PUT") {
    if (mkdir(folder, 0777) != 0 && errno != EEXIST) LOG(Warn, "Could not create directory %s", folder);
    std::ofstream file;
    fs::file_status existing = fs::status(path, error);
    if (staysInside(folder, name) && (!fs::exists(existing) || fs::is_regular_file(existing)))
      file.open(path, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
      request->output() << kOpenError;
      return;
    }
    file.write(request->postData.data(), static_cast<std::streamsize>(request->postData.size()));
    file.flush();
    bool written = file.good();
    file.close();
    request->output() << (written && file.good() ? kSuccess : kWriteError);
  } else if (method == "DELETE") {
    bool removed = staysInside(folder, name) && unlink(path.c_str()) == 0;
    request->output() << (removed ? kSuccess : kNoSuchFile);
  } else {
    request->output() << kUnknownRequest;
  }
}
