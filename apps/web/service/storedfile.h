#pragma once
// A file written under a temporary name in its target's folder. The target is replaced only when
// every write, the flush to storage and the close succeeded, so a failed write never costs the file
// that was there; an uncommitted temporary file is removed with the object.
#include <cstdint>
#include <string>
#include <string_view>

class StoredFile {
 public:
  // Creates the temporary file: `prefix` followed by six random characters.
  explicit StoredFile(const std::string& prefix);
  ~StoredFile();
  StoredFile(const StoredFile&) = delete;
  StoredFile& operator=(const StoredFile&) = delete;

  bool write(std::string_view bytes);
  // Flushes, closes and renames over `target`; false (and the temporary file removed) on any failure.
  bool commit(const std::string& target);
  // Removes the temporary file; nothing is kept.
  void discard();
  // The system's error of the first failure (0: none), and its text.
  int error() const { return failure; }
  std::string errorText() const;
  bool opened() const { return present; }

 private:
  bool fail(int error);

  static constexpr uint64_t kWritebackStep = 1 << 20;

  std::string path;
  int fd = -1;
  uint64_t size = 0;
  uint64_t startedTo = 0;  // writeback has been started up to here
  int failure = 0;
  bool present = false;
};
