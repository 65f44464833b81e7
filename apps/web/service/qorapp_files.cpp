#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "apps/common/introspection/jsonstring.h"
#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"
#include "apps/web/service/storedfile.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kSuccess = "{\"result\": \"Success\" }";
constexpr const char* kNoSuchFile = "{\"result\": \"No such file\" }";
constexpr const char* kOpenError = "{\"result\": \"Open error\" }\r\n";
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

// The body of a PUT as it arrives, into a temporary file beside the one it replaces. One that
// cannot be stored (a name outside the folder, the folder not writable) skips its body.
class FileUpload : public BodySink {
 public:
  explicit FileUpload(const std::string& prefix) : file(prefix) {}
  bool take(std::string_view piece) override { return file.write(piece); }
  StoredFile file;
};

// A stored file sent as the connection drains, never read whole.
class FileSource : public BodySource {
 public:
  explicit FileSource(int fd) : fd(fd) {}
  ~FileSource() override { ::close(fd); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  long long read(char* buffer, size_t size) override {
    ssize_t got;
    do got = ::read(fd, buffer, size);
    while (got < 0 && errno == EINTR);
    return got;
  }

 private:
  int fd;
};

// Opens a regular file for reading; -1 for anything else. Non-blocking, and checked once open, so a
// FIFO put in its place meanwhile can neither stall the service nor be read.
int openRegular(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
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

void QorApp::takeFile(Request* request, const std::string& folder, const std::string& name) {
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) LOG(Warn, "Could not create directory %s", folder.c_str());
  const std::string path = folder + name;
  std::error_code error;
  fs::file_status existing = fs::status(path, error);
  // A file that cannot be stored skips its body; the route answers that it could not open it.
  if (!staysInside(folder, name) || (fs::exists(existing) && !fs::is_regular_file(existing)))
    return request->streamBodyTo(std::make_unique<SkippedBody>());
  fs::path target(path);
  // Hidden beside its target, so that the rename replaces the file in one step.
  std::string hidden = ".";
  hidden += target.filename().string();
  hidden += '.';
  auto upload = std::make_unique<FileUpload>((target.parent_path() / hidden).string());
  if (upload->file.opened())
    request->streamBodyTo(std::move(upload));
  else
    request->streamBodyTo(std::make_unique<SkippedBody>());
}

void QorApp::fileOperation(Request* request, const char* folder, const std::string& name) {
  const std::string& method = request->param("REQUEST_METHOD");
  const std::string path = folder + name;
  if (method == "GET") {
    int fd = staysInside(folder, name) ? openRegular(path) : -1;
    if (fd < 0) {
      request->output() << kNoSuchFile;
      return;
    }
    request->output();
    request->sendFrom(std::make_unique<FileSource>(fd));
  } else if (method == "PUT") {
    auto* upload = dynamic_cast<FileUpload*>(request->bodySink());
    if (upload == nullptr) {
      request->output() << kOpenError;
      return;
    }
    if (!upload->file.commit(path)) {
      LOG(Warn, "Could not store %s: %s", path.c_str(), upload->file.errorText().c_str());
      request->output() << "{\"result\": \"Write error: " << JsonEscaped{upload->file.errorText()} << "\" }";
      return;
    }
    request->output() << kSuccess;
  } else if (method == "DELETE") {
    bool removed = staysInside(folder, name) && unlink(path.c_str()) == 0;
    request->output() << (removed ? kSuccess : kNoSuchFile);
  } else {
    request->output() << kUnknownRequest;
  }
}
