#include "apps/web/service/logtext.h"

#include <cstdlib>
#include <new>

LogText::~LogText() { std::free(text); }

void LogText::grow(size_t more) {
  if (more > SIZE_MAX / 2 - length_) throw std::bad_alloc();
  size_t wanted = length_ + more;
  size_t next = capacity < 4096 ? 4096 : capacity;
  while (next < wanted) next *= 2;
  void* moved = std::realloc(text, next);
  if (moved == nullptr) throw std::bad_alloc();
  text = static_cast<char*>(moved);
  capacity = next;
}

void LogText::dropOldest() {
  const size_t drop = length_ - kept;
  std::memmove(text, text + drop, kept);
  length_ = kept;
  dropped_ += drop;
}
