#include "apps/web/service/qorapp_multipart.h"

#include "apps/common/log/log.h"
#include "apps/web/service/qorapp.h"

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

std::string MultipartParser::boundaryOf(const std::string& contentType) {
  std::map<std::string, std::string> headers;
  QorApp::splitHeaderLine(headers, contentType);
  if (headers.find("multipart/form-data") == headers.end()) {
    LOG(Warn, "No multipart/form-data");
    return {};
  }
  auto boundary = headers.find("boundary");
  if (boundary == headers.end() || boundary->second.empty()) {
    LOG(Warn, "No boundary");
    return {};
  }
  return boundary->second;
}

MultipartParser::MultipartParser(const std::string& boundary, FileWriter writer)
    : delimiter("--" + boundary), writer(std::move(writer)) {}

// Lines end at LF. A line that begins with the delimiter ends the part before it; the CR LF in
// front of it belongs to the delimiter, a bare LF to the content. Content passes on byte for byte.
bool MultipartParser::feed(std::string_view data) {
  while (!data.empty()) {
    switch (state) {
      case State::Preamble:
      case State::Content:
        if (atLineStart)
          lineStart(data);
        else
          inLine(data);
        break;
      case State::Headers:
        headerBytes(data);
        break;
      case State::DelimiterTail:
        delimiterTail(data);
        break;
      case State::Done:  // the epilogue is not part of the form
        return true;
      case State::Failed:
        return false;
    }
  }
  return state != State::Failed;
}

// Matches the line's first bytes with the delimiter; once they differ, they are content.
void MultipartParser::lineStart(std::string_view& data) {
  while (matched < delimiter.size() && !data.empty() && data.front() == delimiter[matched]) {
    ++matched;
    data.remove_prefix(1);
  }
  if (matched == delimiter.size()) return delimiterFound();
  if (data.empty()) return;
  atLineStart = false;
  if (pendingCrLf) emit("\r\n");
  pendingCrLf = false;
  contentBytes(std::string_view(delimiter).substr(0, matched));
  matched = 0;
}

void MultipartParser::inLine(std::string_view& data) {
  size_t newline = data.find('\n');
  contentBytes(data.substr(0, newline));
  if (newline == std::string_view::npos) {
    data = {};
    return;
  }
  data.remove_prefix(newline + 1);
  endContentLine();
}

// A CR at the end of what has come of a line is held: if the LF follows, it may be the delimiter's.
void MultipartParser::contentBytes(std::string_view bytes) {
  if (bytes.empty()) return;
  if (heldCr) emit("\r");
  heldCr = bytes.back() == '\r';
  emit(heldCr ? bytes.substr(0, bytes.size() - 1) : bytes);
}

void MultipartParser::endContentLine() {
  if (heldCr)
    pendingCrLf = true;
  else
    emit("\n");
  heldCr = false;
  atLineStart = true;
}

void MultipartParser::emit(std::string_view bytes) {
  if (bytes.empty() || state != State::Content) return;  // the preamble is never stored
  if (toFile) {
    if (!writer(bytes)) state = State::Failed;
    return;
  }
  fieldBytes += bytes.size();
  if (fieldBytes > kMaxFieldBytes) return fail("A form field of the upload is too long.");
  value.append(bytes);
}

void MultipartParser::delimiterFound() {
  auto name = headers.find("name");
  // A part named "file" counts only once its content has begun: before, no file was written.
  if (name != headers.end() && (name->second != "file" || toFile))
    values[name->second] = toFile ? std::string() : value;
  LOG(DebugMost, "Start of new block");
  headers.clear();
  value.clear();
  toFile = false;
  pendingCrLf = false;
  heldCr = false;
  matched = 0;
  tail.clear();
  state = State::DelimiterTail;
}

// "--" right after the delimiter closes the body; anything else up to the LF is ignored.
void MultipartParser::delimiterTail(std::string_view& data) {
  while (!data.empty()) {
    char c = data.front();
    data.remove_prefix(1);
    if (c == '\n') {
      state = State::Headers;
      line.clear();
      return;
    }
    if (tail.size() < 2) tail += c;
    if (tail == "--") {
      state = State::Done;
      return;
    }
  }
}

void MultipartParser::headerBytes(std::string_view& data) {
  size_t newline = data.find('\n');
  std::string_view piece = data.substr(0, newline);
  if (line.size() + piece.size() > kMaxHeaderLine) return fail("A part header of the upload is too long.");
  line.append(piece);
  if (newline == std::string_view::npos) {
    data = {};
    // A closing delimiter need not end in a line end.
    if (line.size() >= delimiter.size() + 2 && line.starts_with(delimiter) &&
        line.compare(delimiter.size(), 2, "--") == 0) {
      delimiterFound();
      state = State::Done;
    }
    return;
  }
  data.remove_prefix(newline + 1);
  std::string complete = std::move(line);
  line.clear();
  headerLine(complete);
}

void MultipartParser::headerLine(std::string_view text) {
  if (text.starts_with(delimiter)) {
    delimiterFound();
    std::string_view rest = text.substr(delimiter.size());
    state = rest.starts_with("--") ? State::Done : State::Headers;
    return;
  }
  text = trimEnd(trimStart(text));
  if (!text.empty()) {
    QorApp::splitHeaderLine(headers, std::string(text));
    return;
  }
  if (headers.empty()) return;
  LOG(DebugMost, "Block data for fields:");
  for (const auto& [key, header] : headers) LOG(DebugAll, "  %s: %s", key.c_str(), header.c_str());
  if (headers["name"] == "file") {
    if (fileSeen) return fail("The upload holds a second part named 'file'.");
    fileSeen = true;
    toFile = true;
  }
  state = State::Content;
  atLineStart = true;
}

void MultipartParser::fail(const char* why) {
  LOG(Warn, "%s", why);
  failure = why;
  state = State::Failed;
}
