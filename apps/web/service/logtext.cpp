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

size_t LogText::cutPoint(std::string_view text, size_t least) {
  if (least == 0) return 0;
  const size_t lineEnd = text.find('\n', least - 1);
  if (lineEnd != std::string_view::npos) return lineEnd + 1;
  size_t at = least;
  // A tag runs from "<" to ">" and an entity from "&" to ";", with neither start inside.
  const size_t opened = text.find_last_of("<&", at - 1);
  if (opened != std::string_view::npos) {
    const size_t closed = text.find(text[opened] == '<' ? '>' : ';', opened);
    if (closed == std::string_view::npos) return text.size();
    if (closed >= at) at = closed + 1;
  }
  while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  return at;
}

void LogText::dropOldest() {
  const size_t drop = cutPoint(view(), length_ - kept);
  std::memmove(text, text + drop, length_ - drop);
  length_ -= drop;
  dropped_ += drop;
}
