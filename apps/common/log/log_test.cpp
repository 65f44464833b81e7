#include "apps/common/log/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tests/unit/child_process.h"
#include "tests/unit/error_text.h"
#include "tests/unit/kernel_log_capture.h"

extern "C" const char* __progname;

// Every test logs inside a child process so that each starts with the writer never opened and the
// threshold unbound.
using testsupport::errorOf;
using testsupport::kernelLogSince;
using testsupport::kernelLogText;
using testsupport::passesInChild;

TEST(Log, LinesHaveTheKernelLogLayoutForEveryLevelAndTheThresholdFiltersWithoutFormatting) {
  EXPECT_TRUE(passesInChild([] {
    __progname = "webservice";
    size_t start = kernelLogText().size();
    logMessage(nullptr, gen::LogLight, "apps/common/event/eventpoll.cpp", 42, "SIG %i: %s", 15, "Terminated");
    logMessage(nullptr, gen::DebugMost, "x.cpp", 12345, "b");
    logMessage(nullptr, gen::DebugLight, "/abs/a_file_name_longer_than_twenty.cpp", 1, "c");
    logMessage(nullptr, gen::Error, "x.cpp", 1, "%s", "");
    for (gen::LogLevel level : {gen::DebugAll, gen::LogAll, gen::LogMost}) logMessage(nullptr, level, "y.cpp", 2, "d");
    EXPECT_EQ(kernelLogSince(start),
              "          webservice  LogLight           eventpoll.cpp:  42 SIG 15: Terminated\n"
              "          webservice  DebugMost                  x.cpp:12345 b\n"
              "          webservice  DebugLight  a_file_name_longer_than_twenty.cpp:   1 c\n"
              "          webservice  Error                      x.cpp:   1 \n"
              "          webservice  DebugAll                   y.cpp:   2 d\n"
              "          webservice  LogAll                     y.cpp:   2 d\n"
              "          webservice  LogMost                    y.cpp:   2 d\n");

    // The threshold filters below its level without formatting.
    start = kernelLogText().size();
    int formatted = 0;
    auto count = [&formatted] { return ++formatted; };

    LOG(DebugAll, "unbound %i", count());  // no threshold bound yet: written
    gen::LogLevel level = gen::Warn;
    gComponentLogLevel = &level;
    LOG(LogLight, "suppressed %i", count());
    logMessage(&level, gen::LogLight, "f.cpp", 1, "suppressed directly");
    LOG(Warn, "warn %i", count());
    LOG(Error, "error %i", count());
    level = gen::Error;  // another process lowers the verbosity at run time
    LOG(Warn, "suppressed %i", count());
    level = static_cast<gen::LogLevel>(-1);  // below every level: the comparison is signed
    LOG(DebugAll, "signed %i", count());

    EXPECT_EQ(formatted, 4);
    std::string text = kernelLogSince(start);
    EXPECT_NE(text.find("unbound 1\n"), std::string::npos);
    EXPECT_NE(text.find("warn 2\n"), std::string::npos);
    EXPECT_NE(text.find("error 3\n"), std::string::npos);
    EXPECT_NE(text.find("signed 4\n"), std::string::npos);
    EXPECT_EQ(text.find("suppressed"), std::string::npos);
  }));
}

TEST(Log, ThrowsAndCommandErrorsCarryTheLocationAndMessage) {
  EXPECT_TRUE(passesInChild([] {
    gen::LogLevel level = gen::Error;
    gComponentLogLevel = &level;
    size_t start = kernelLogText().size();

    EXPECT_EQ(errorOf([] { throwError("src/fcgi.cpp", 77, "bad %s %i", "value", 3); }),
              "            fcgi.cpp:  77 bad value 3");
    errno = ENOENT;
    EXPECT_EQ(errorOf([] { throwErrorNumber("x/sharedmemory.cpp", 5, "/MemDynamic"); }),
              "    sharedmemory.cpp:   5 /MemDynamic: No such file or directory");
    errno = EACCES;
    EXPECT_EQ(errorOf([] { throwErrorNumberInfo("info.cpp", 9, "open"); }),
              "            info.cpp:   9 open: Permission denied");

    std::string text = kernelLogSince(start);
    EXPECT_NE(text.find("Error                   fcgi.cpp:  77 bad value 3\n"), std::string::npos);
    EXPECT_NE(text.find("Error           sharedmemory.cpp:   5 /MemDynamic: No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(text.find("LogLight                info.cpp:   9 open: Permission denied\n"), std::string::npos);

    // A command's failure is returned and written at Warn, unless the given threshold is above that.
    start = kernelLogText().size();
    EXPECT_STREQ(lastCommandError(nullptr, "tool.cpp", 3, "exit status 1", "running %s", "onewire"),
                 "running onewire:\nexit status 1");
    EXPECT_EQ(kernelLogSince(start),
              "            log_test  Warn                    tool.cpp:   3 running onewire:\nexit status 1\n");
    start = kernelLogText().size();
    EXPECT_STREQ(lastCommandError(&level, "tool.cpp", 4, "d", "m"), "m:\nd");
    EXPECT_EQ(kernelLogSince(start), "");

    // Long messages are cut alike in line and exception.
    std::string longText(600, 'x');
    std::string thrown;
    try {
      throwError("f.cpp", 1, "%s", longText.c_str());
    } catch (const std::runtime_error& error) {
      thrown = error.what();
      // The buffer behind the exception is reused by the next line; the exception keeps its own copy.
      logMessage(nullptr, gen::Warn, "g.cpp", 2, "next");
    }
    std::string expected = "               f.cpp:   1 " + longText.substr(0, 511 - 26);
    EXPECT_EQ(thrown, expected);
    text = kernelLogSince(start);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "            log_test  Error       " + expected + "\n");
  }));
}

TEST(Log, UnopenableDeviceCostsOneStderrLinePerMessageAndIsRetried) {
  EXPECT_TRUE(passesInChild([] {
    // A /dev without kmsg, in a namespace of this child only.
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(::mount("none", "/dev", "tmpfs", 0, nullptr), 0);
    int capture = ::memfd_create("log-test-stderr", 0);
    ASSERT_GE(capture, 0);
    int savedStderr = ::dup(2);
    ::dup2(capture, 2);

    logMessage(nullptr, gen::Warn, "f.cpp", 1, "first");
    errno = EACCES;
    LOG(Error, "second");
    int errnoAfterLine = errno;
    std::string thrown = errorOf([] { throwError("f.cpp", 3, "third"); });

    // Once the device can be opened, the next line goes there.
    ASSERT_EQ(::close(::open("/dev/kmsg", O_CREAT | O_WRONLY, 0600)), 0);
    logMessage(nullptr, gen::Warn, "f.cpp", 4, "fourth");

    ::dup2(savedStderr, 2);
    std::string errors(4096, '\0');
    errors.resize(::pread(capture, errors.data(), errors.size(), 0));
    EXPECT_EQ(errors,
              "FATAL: Logging: Write failed: Bad file descriptor\n"
              "FATAL: Logging: Write failed: Bad file descriptor\n"
              "FATAL: Logging: Write failed: Bad file descriptor\n");
    EXPECT_EQ(errnoAfterLine, EACCES);
    EXPECT_EQ(thrown, "               f.cpp:   3 third");
    std::stringstream text;
    text << std::ifstream("/dev/kmsg").rdbuf();
    EXPECT_EQ(text.str(), "            log_test  Warn                       f.cpp:   4 fourth\n");
  }));
}
