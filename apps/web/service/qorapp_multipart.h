#pragma once
// A multipart/form-data body parsed as it arrives, in pieces cut anywhere: the content of the part
// named "file" goes on to a writer, every other field is kept, and the parse ends at the closing
// delimiter.
#include <functional>
#include <map>
#include <string>
#include <string_view>

class MultipartParser {
 public:
  using Fields = std::map<std::string, std::string>;
  // Takes the content of the part named "file"; false stops the parse (the writer knows why).
  using FileWriter = std::function<bool(std::string_view)>;

  // The non-file fields together may hold this much; a part's header line no more than this.
  static constexpr size_t kMaxFieldBytes = 64 * 1024;
  static constexpr size_t kMaxHeaderLine = 8 * 1024;

  // The boundary of a multipart/form-data content type; empty, with a Warn line, when it has none.
  static std::string boundaryOf(const std::string& contentType);

  MultipartParser(const std::string& boundary, FileWriter writer);

  // The next piece of the body; false once the parse has failed.
  bool feed(std::string_view piece);
  // The closing delimiter has been read.
  bool complete() const { return state == State::Done; }
  bool failed() const { return state == State::Failed; }
  bool writeFailed() const { return failed() && failure.empty(); }
  // Why the body was refused, for the answer; empty when the writer failed or nothing did.
  const std::string& failureText() const { return failure; }
  // Every field whose part was closed by a delimiter; the one named "file" has an empty value.
  const Fields& fields() const { return values; }

 private:
  enum class State { Preamble, Headers, Content, DelimiterTail, Done, Failed };

  void lineStart(std::string_view& data);
  void inLine(std::string_view& data);
  void headerBytes(std::string_view& data);
  void headerLine(std::string_view line);
  void delimiterTail(std::string_view& data);
  void delimiterFound();
  void contentBytes(std::string_view bytes);
  void endContentLine();
  void emit(std::string_view bytes);
  void fail(const char* why);

  const std::string delimiter;
  FileWriter writer;
  State state = State::Preamble;
  bool atLineStart = true;
  size_t matched = 0;        // bytes of the delimiter matched at the start of the current line
  bool heldCr = false;       // the current content line ends, so far, in a CR not yet passed on
  bool pendingCrLf = false;  // the previous content line ended in CR LF, owed unless a delimiter follows
  std::string tail;          // the first bytes after a delimiter, to tell the closing one
  std::string line;          // a part's header line being collected
  Fields headers;
  Fields values;
  std::string value;
  size_t fieldBytes = 0;
  bool toFile = false;
  bool fileSeen = false;
  std::string failure;
};
