#pragma once
// The one writer of text into JSON strings. Bytes from the unit, the network or the file system are
// never trusted to be UTF-8: whatever they hold, the result is valid JSON in valid UTF-8.
#include <ostream>
#include <string>
#include <string_view>

// Appends text as the inside of a JSON string (no quotes). Escapes as the JSON library's compact
// serialisation does: \" \\ \b \f \n \r \t, other bytes below 0x20 as \u00xx. Valid UTF-8 is copied
// byte for byte; each maximal subpart of an ill-formed sequence becomes one U+FFFD.
void appendJsonEscaped(std::string& out, std::string_view text);

// The same for answers written to a stream: out << JsonEscaped{text}.
struct JsonEscaped {
  std::string_view text;
};
std::ostream& operator<<(std::ostream& out, JsonEscaped text);
