#include "apps/web/service/storedfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

StoredFile::StoredFile(const std::string& prefix) : path(prefix + "XXXXXX") {
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    fail(errno);
    return;
  }
  present = true;
  // mkostemp makes the file private; a stored file gets the modes any other file created here gets.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
}

StoredFile::~StoredFile() { discard(); }

bool StoredFile::fail(int error) {
  if (failure == 0) failure = error;
  return false;
}

bool StoredFile::write(std::string_view bytes) {
  if (failure != 0 || fd < 0) return false;
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
    size += static_cast<uint64_t>(written);
  }
  // Writeback starts as the file grows, without waiting for it, so the flush at the end waits for
  // little more than the last piece: the loop is not held while a large update reaches storage.
  if (size - startedTo >= kWritebackStep) {
    ::sync_file_range(fd, static_cast<off64_t>(startedTo), static_cast<off64_t>(size - startedTo),
                      SYNC_FILE_RANGE_WRITE);
    startedTo = size;
  }
  return true;
}

bool StoredFile::commit(const std::string& target) {
  if (failure == 0 && fd >= 0 && ::fdatasync(fd) != 0) fail(errno);
  if (fd >= 0 && ::close(fd) != 0) fail(errno);
  fd = -1;
  if (failure == 0 && std::rename(path.c_str(), target.c_str()) != 0) fail(errno);
  if (failure != 0) {
    discard();
    return false;
  }
  present = false;  // the file is the target's now
  return true;
}

void StoredFile::discard() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  if (present) ::unlink(path.c_str());
  present = false;
}

std::string StoredFile::errorText() const { return std::strerror(failure); }
