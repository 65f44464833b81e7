#pragma once
// An append-only text that may grow to many megabytes. It grows with realloc, which lets the C
// library move large blocks by remapping their pages instead of copying them, so the text's growth
// costs little more than the bytes appended.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

class LogText {
 public:
  // A position in the whole stream: 64 bits, since on the unit a size_t would wrap after 4 GiB of log.
  using Position = uint64_t;

  // A unit runs for days: only the newest part of the text is kept, at most this much, and positions are
  // counted from the start of the whole stream. Dropping waits for a quarter more, so it moves bytes only
  // now and then, and it drops whole lines, so that the kept part starts where a line does.
  static constexpr size_t kDefaultKept = 4 * 1024 * 1024;

  explicit LogText(size_t kept = kDefaultKept) : kept(kept) {}
  ~LogText();
  LogText(const LogText&) = delete;
  LogText& operator=(const LogText&) = delete;

  void append(const char* data, size_t length) {
    if (length == 0) return;
    if (length > capacity - length_) grow(length);
    std::memcpy(text + length_, data, length);
    length_ += length;
    if (length_ > kept && length_ - kept > kept / 4) dropOldest();
  }
  void append(std::string_view part) { append(part.data(), part.size()); }

  // The kept part; it starts at stream position dropped() and the stream is total() bytes long.
  size_t size() const { return length_; }
  std::string_view view() const { return {text, length_}; }
  Position dropped() const { return dropped_; }
  Position total() const { return dropped_ + length_; }

  // Where the text may be cut so that at least `least` bytes go: after the first line end that leaves
  // that many. A text without one there (a line longer than the kept part) is cut at the first place
  // from `least` on that is inside no tag, entity or UTF-8 character; "<" and "&" start nothing else.
  static size_t cutPoint(std::string_view text, size_t least);

 private:
  void grow(size_t more);
  void dropOldest();

  char* text = nullptr;
  size_t length_ = 0;
  size_t capacity = 0;
  Position dropped_ = 0;
  const size_t kept;
};
