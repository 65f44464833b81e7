#pragma once
// Diagnostic lines to the kernel log and the one way common code reports failure.
#include <cstdarg>
#include <cstdint>

// gen::LogLevel and its names, generated from the catalogue's enumeration of the same name.
#include "gen/code/loglevel_gen.h"

// Threshold of this process's lines; null (everything written) until start-up binds it.
extern gen::LogLevel* gComponentLogLevel;

void logMessage(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void logMessageIntern(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line, const char* format,
                      std::va_list args) __attribute__((format(printf, 5, 0)));
[[noreturn]] void throwError(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
[[noreturn]] void throwErrorNumber(const char* file, int line, const char* what);
[[noreturn]] void throwErrorNumberInfo(const char* file, int line, const char* what);
const char* lastCommandError(gen::LogLevel* threshold, const char* file, int line, const char* detail,
                             const char* format, ...) __attribute__((format(printf, 5, 6)));

// Call-site wrappers: the threshold is tested before any argument is formatted.
#define LOG(level, ...)                                                            \
  do {                                                                             \
    if (gComponentLogLevel == nullptr || (gen::level) >= *gComponentLogLevel)      \
      logMessage(gComponentLogLevel, gen::level, __FILE__, __LINE__, __VA_ARGS__); \
  } while (0)
#define THROW_ERROR(...) throwError(__FILE__, __LINE__, __VA_ARGS__)
#define THROW_ERROR_NUMBER(what) throwErrorNumber(__FILE__, __LINE__, what)
