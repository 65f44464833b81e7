#pragma once
// Turns the colour sequences (ANSI SGR) of a terminal log into HTML spans. The input may arrive in
// pieces of any size: a sequence or a character cut by the end of a piece is finished with the next one.
// The log's own text is made safe for a page: "&", "<" and ">" become entities and bytes that are not
// UTF-8 become U+FFFD, so the only markup in the result is the converter's own spans.
#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/web/service/logtext.h"

class LogConverter {
 public:
  // Appends the converted piece to html.
  void convert(const char* data, size_t length, LogText& html);

  // Six hexadecimal digits of colour code 0-7 (bit 0 red, bit 1 green, bit 2 blue).
  static std::string getColor(int code, const char* on, const char* off);

 private:
  enum class State { Text, Escape, Parameter };

  const char* copyText(const char* p, const char* end, LogText& html);
  const char* continueCharacter(const char* p, const char* end, LogText& html);

  State state = State::Text;
  int sgrCode = 0;
  // A multi-byte character begun but not yet complete: its bytes so far and the length it needs.
  char character[4] = {};
  uint8_t characterHas = 0;
  uint8_t characterNeeds = 0;
};
