#include "apps/common/sharedmemory/sharedmemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "apps/common/log/log.h"

namespace {
constexpr uint32_t kSizeWordBytes = sizeof(uint32_t);

// The whole segment is the size word plus the payload; on a 32-bit unit that sum must still fit the
// types of mmap and ftruncate rather than wrap around to a tiny mapping.
size_t segmentLength(const std::string& name, uint32_t size) {
  constexpr uint64_t limit =
      std::min<uint64_t>(std::numeric_limits<size_t>::max(), static_cast<uint64_t>(std::numeric_limits<off_t>::max()));
  uint64_t length = static_cast<uint64_t>(size) + kSizeWordBytes;
  if (length > limit) THROW_ERROR("Segment %s is too large to map: %u payload bytes", name.c_str(), size);
  return static_cast<size_t>(length);
}
}  // namespace

SharedMemory::SharedMemory(const char* name, unsigned int size) : name(std::string("/") + name), size(size) {}

SharedMemory::~SharedMemory() { close(); }

void SharedMemory::create() {
  size_t length = segmentLength(name, size);
  descriptor = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0666);
  if (descriptor < 0) THROW_ERROR_NUMBER(name.c_str());
  created = true;
  if (::ftruncate(descriptor, static_cast<off_t>(length)) != 0) THROW_ERROR_NUMBER(name.c_str());
}

void SharedMemory::open() {
  descriptor = ::shm_open(name.c_str(), O_RDWR, 0666);
  if (descriptor < 0) THROW_ERROR_NUMBER(name.c_str());
}

char* SharedMemory::address() {
  if (descriptor < 0) THROW_ERROR("Call open or create before asking for the address");
  if (payload != nullptr) return payload;

  size_t length = segmentLength(name, size);
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) THROW_ERROR_NUMBER(name.c_str());
  void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  if (mapping == MAP_FAILED) THROW_ERROR_NUMBER(name.c_str());
  auto* start = static_cast<char*>(mapping);

  if (created) {
    std::memcpy(start, &size, kSizeWordBytes);
  } else {
    // Touching pages past the end of the segment's file would kill the process with SIGBUS, so the
    // real length is checked before the size word is read and before any payload is handed out.
    auto fileLength = static_cast<uint64_t>(status.st_size);
    uint32_t word = 0;
    if (fileLength >= kSizeWordBytes) std::memcpy(&word, start, kSizeWordBytes);
    if (word != size || fileLength < length) ::munmap(start, length);
    if (word != size) THROW_ERROR("Memory size missmatch for %s, requested %u, is %u.", name.c_str(), size, word);
    if (fileLength < length)
      THROW_ERROR("Segment %s holds %llu bytes, fewer than its %u payload bytes need", name.c_str(),
                  static_cast<unsigned long long>(fileLength), size);
  }
  base = start;
  payload = base + kSizeWordBytes;
  return payload;
}

void SharedMemory::close() {
  if (base != nullptr) {
    ::munmap(base, static_cast<size_t>(size) + kSizeWordBytes);
    base = nullptr;
    payload = nullptr;
  }
  if (descriptor >= 0) {
    ::close(descriptor);
    descriptor = -1;
  }
  if (created && removeOnClose) {
    created = false;
    if (::shm_unlink(name.c_str()) != 0) LOG(Error, "%s: %s", name.c_str(), std::strerror(errno));
  }
}
