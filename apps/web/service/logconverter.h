#pragma once
// Turns the colour sequences (ANSI SGR) of a terminal log into HTML spans. The input may arrive in
// pieces of any size: a sequence cut by the end of a piece is finished with the next one.
#include <cstddef>
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

  State state = State::Text;
  int sgrCode = 0;
};
