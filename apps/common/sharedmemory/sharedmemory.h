#pragma once
// One POSIX shared-memory segment: a 4-byte size word followed by the payload.
#include <cstdint>
#include <string>

class SharedMemory {
 public:
  SharedMemory(const char* name, unsigned int size);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  void create();
  void open();
  char* address();
  void close();
  // For tools that create segments for other processes: close() then leaves the segment in place.
  void disown() { removeOnClose = false; }

  unsigned int getSize() const { return size; }

 private:
  std::string name;  // with its leading "/"
  uint32_t size;     // payload bytes
  int descriptor = -1;
  char* base = nullptr;
  char* payload = nullptr;
  bool created = false;
  bool removeOnClose = true;
};
