#pragma once
// The answer both benchmark responders give, so they do the same work.
#include <cstring>
#include <string>

namespace benchanswer {
inline constexpr const char* kHead = "Content-type: text/plain\r\n\r\n";
inline constexpr const char* kSmall = "The quick brown fox jumps over the lazy dog.\n";
inline constexpr size_t kBigSize = 1 << 20;

inline bool wantsBig(const char* scriptName) {
  size_t length = std::strlen(scriptName);
  return length >= 4 && std::strcmp(scriptName + length - 4, "/big") == 0;
}

inline std::string bigBody() {
  std::string body(kBigSize, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  return body;
}
}  // namespace benchanswer
