#pragma once
// The fuzz build uses clang 14 with the system's GCC 12 standard library, whose <source_location>
// needs a builtin that clang 14 lacks and so declares nothing. This stand-in, forced into every
// file of the fuzz build only, offers the part the service uses, built on the builtins clang has.
#include <source_location>

#if !defined(__cpp_lib_source_location)
namespace std {
struct source_location {
  static constexpr source_location current(const char* file = __builtin_FILE(),
                                           const char* function = __builtin_FUNCTION(),
                                           unsigned int line = __builtin_LINE()) noexcept {
    source_location here;
    here.file = file;
    here.function = function;
    here.lineNumber = line;
    return here;
  }
  constexpr const char* file_name() const noexcept { return file; }
  constexpr const char* function_name() const noexcept { return function; }
  constexpr unsigned int line() const noexcept { return lineNumber; }
  constexpr unsigned int column() const noexcept { return 0; }

  const char* file = "";
  const char* function = "";
  unsigned int lineNumber = 0;
};
}  // namespace std
#endif
