#include <fstream>

#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"
#include "apps/web/service/request.h"

namespace {
bool trimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '"'; }

std::string_view trimStart(std::string_view text) {
  while (!text.empty() && trimmed(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trimEnd(std::string_view text) {
  while (!text.empty() && trimmed(text.back())) text.remove_suffix(1);
  return text;
}

// Where the content of the current part goes: the output file or the part's value.
struct Sink {
  std::ofstream& file;
  std::string& value;
  bool toFile;
  void write(std::string_view bytes) {
    if (toFile)
      file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    else
      value.append(bytes);
  }
};
}  // namespace

void QorApp::splitHeaderLine(std::map<std::string, std::string>& out, const std::string& line) {
  LOG(DebugAll, "Splitting line: \"%s\"", line.c_str());
  std::string_view rest = line;
  while (true) {
    size_t semicolon = rest.find(';');
    std::string_view part = trimEnd(trimStart(rest.substr(0, semicolon)));
    size_t equals = part.find('=');
    if (equals == std::string_view::npos)
      out.emplace(part, "");
    else
      out.emplace(trimEnd(part.substr(0, equals)), trimStart(part.substr(equals + 1)));
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
}

// Walks the body in place, line by line: an update file of tens of megabytes is never copied
// again in memory, only written on to its file.
bool QorApp::parseFormData(Request* request, std::map<std::string, std::string>& fields, const char* filePath) {
  std::map<std::string, std::string> headers;
  splitHeaderLine(headers, request->param("CONTENT_TYPE"));
  if (headers.find("multipart/form-data") == headers.end()) {
    LOG(Warn, "No multipart/form-data");
    return false;
  }
  auto boundary = headers.find("boundary");
  if (boundary == headers.end() || boundary->second.empty()) {
    LOG(Warn, "No boundary");
    return false;
  }
  const std::string delimiter = "--" + boundary->second;
  headers.clear();
  std::string value;
  std::ofstream file;
  Sink sink{file, value, false};
  bool inHeaders = false;
  bool pendingCrLf = false;
  // Text before the first delimiter is never stored, so it is not collected either (a body with a
  // wrong boundary would otherwise be copied whole).
  bool started = false;

  std::string_view body = request->postData;
  bool more = true;
  while (more) {
    size_t newline = body.find('\n');
    more = newline != std::string_view::npos;
    std::string_view line = body.substr(0, newline);
    if (more) body.remove_prefix(newline + 1);

    if (line.starts_with(delimiter)) {
      auto name = headers.find("name");
      if (name != headers.end()) fields[name->second] = value;
      LOG(DebugMost, "Start of new block");
      headers.clear();
      value.clear();
      sink.toFile = false;
      pendingCrLf = false;
      inHeaders = true;
      started = true;
    } else if (inHeaders) {
      line = trimEnd(trimStart(line));
      if (!line.empty()) {
        splitHeaderLine(headers, std::string(line));
      } else if (!headers.empty()) {
        LOG(DebugMost, "Block data for fields:");
        for (const auto& [key, text] : headers) LOG(DebugAll, "  %s: %s", key.c_str(), text.c_str());
        if (headers["name"] == "file") {
          if (!file.is_open()) file.open(filePath, std::ios::binary | std::ios::trunc);
          value = filePath;
          sink.toFile = true;
        }
        inHeaders = false;
      }
    } else if (started) {
      if (pendingCrLf) sink.write("\r\n");
      pendingCrLf = !line.empty() && line.back() == '\r';
      if (pendingCrLf) {
        sink.write(line.substr(0, line.size() - 1));
      } else {
        sink.write(line);
        sink.write("\n");
      }
    }
  }
  file.close();
  return true;
}
