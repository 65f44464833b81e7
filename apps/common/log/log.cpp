#include "apps/common/log/log.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

extern "C" const char* __progname;

gen::LogLevel* gComponentLogLevel = nullptr;

namespace {
constexpr size_t kPrefixLength = 22;
constexpr size_t kMessageSize = 512;

int logFd = -1;
char prefix[kPrefixLength + 1];
char message[kMessageSize];

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void openLog() {
  logFd = ::open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
  std::snprintf(prefix, sizeof prefix, "%20.20s  ", __progname);
}

const char* levelTag(gen::LogLevel level) {
  auto index = static_cast<uint32_t>(level);
  return index < LOGLEVEL_NAME_ARRAY_SIZE ? LOGLEVEL_TAG_ARRAY[index] : LOGLEVEL_TAG_ARRAY[gen::Error];
}

// Formats location and message into the shared buffer and writes the line with one gathering write,
// so the kernel keeps it as one record.
// A line must not change errno: callers log before they report the failed call that set it.
void writeLine(gen::LogLevel level, const char* file, int line, const char* format, std::va_list args) {
  int callerErrno = errno;
  if (logFd < 0) openLog();
  int used = std::snprintf(message, kMessageSize, "%20s:%4i ", baseName(file), line);
  if (used < 0) used = 0;
  if (static_cast<size_t>(used) < kMessageSize) std::vsnprintf(message + used, kMessageSize - used, format, args);
  char newline = '\n';
  iovec parts[4] = {{prefix, kPrefixLength},
                    {const_cast<char*>(levelTag(level)), LOGLEVEL_TAG_LENGTH},
                    {message, std::strlen(message)},
                    {&newline, 1}};
  if (::writev(logFd, parts, 4) < 0) std::fprintf(stderr, "FATAL: Logging: Write failed: %s\n", std::strerror(errno));
  errno = callerErrno;
}

void writeLine(gen::LogLevel level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void writeLine(gen::LogLevel level, const char* file, int line, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  writeLine(level, file, line, format, args);
  va_end(args);
}
}  // namespace

void logMessageIntern(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line, const char* format,
                      std::va_list args) {
  if (threshold != nullptr && level < *threshold) return;
  writeLine(level, file, line, format, args);
}

void logMessage(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  logMessageIntern(threshold, level, file, line, format, args);
  va_end(args);
}

void throwError(const char* file, int line, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  writeLine(gen::Error, file, line, format, args);
  va_end(args);
  throw std::runtime_error(message);
}

void throwErrorNumber(const char* file, int line, const char* what) {
  const char* reason = std::strerror(errno);
  writeLine(gen::Error, file, line, "%s: %s", what, reason);
  throw std::runtime_error(message);
}

void throwErrorNumberInfo(const char* file, int line, const char* what) {
  const char* reason = std::strerror(errno);
  writeLine(gen::LogLight, file, line, "%s: %s", what, reason);
  throw std::runtime_error(message);
}

const char* lastCommandError(gen::LogLevel* threshold, const char* file, int line, const char* detail,
                             const char* format, ...) {
  static char text[2048];
  char formatted[1024];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(formatted, sizeof formatted, format, args);
  va_end(args);
  std::snprintf(text, sizeof text, "%s:\n%s", formatted, detail);
  logMessage(threshold, gen::Warn, file, line, "%s", text);
  return text;
}
