#pragma once
// An append-only text that may grow to many megabytes. It grows with realloc, which lets the C
// library move large blocks by remapping their pages instead of copying them, so the text's growth
// costs little more than the bytes appended.
#include <cstddef>
#include <cstring>
#include <string_view>

class LogText {
 public:
  LogText() = default;
  ~LogText();
  LogText(const LogText&) = delete;
  LogText& operator=(const LogText&) = delete;

  void append(const char* data, size_t length) {
    if (length == 0) return;
    if (length > capacity - length_) grow(length);
    std::memcpy(text + length_, data, length);
    length_ += length;
  }
  void append(std::string_view part) { append(part.data(), part.size()); }

  size_t size() const { return length_; }
  std::string_view view() const { return {text, length_}; }

 private:
  void grow(size_t more);

  char* text = nullptr;
  size_t length_ = 0;
  size_t capacity = 0;
};
