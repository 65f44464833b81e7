#include "apps/web/service/childprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

TEST(ChildProcess, ArgumentsReachTheProgramUntouchedStreamsGoWhereToldAndStopEndsIt) {
  int input[2], output[2];
  ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
  ASSERT_EQ(::write(input[1], "text in\n", 8), 8);
  ::close(input[1]);
  ChildProcess::Streams streams;
  streams.input = input[0];
  streams.output = streams.error = output[1];
  {
    ChildProcess child({"sh", "-c", "printf '%s|' \"$@\"; cat; echo err >&2; exit 3", "sh", "$HOME; x", "'a b'"},
                       streams);
    ::close(input[0]);
    ::close(output[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = ::read(output[0], buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(got));
    EXPECT_EQ(text, "$HOME; x|'a b'|text in\nerr\n");
    const auto status = child.wait(std::chrono::seconds(5));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 3);
  }
  ::close(output[0]);

  ChildProcess missing({"/nonexistent/program"}, {});
  const auto status = missing.wait(std::chrono::seconds(5));
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 127);

  ChildProcess sleeper({"sleep", "1000"}, {});
  EXPECT_FALSE(sleeper.wait(std::chrono::milliseconds(50)));
  EXPECT_EQ(::getpgid(sleeper.id()), sleeper.id()) << "a group of its own";
  sleeper.stop();
  const auto stopped = sleeper.wait(std::chrono::milliseconds(0));
  ASSERT_TRUE(stopped);
  EXPECT_TRUE(WIFSIGNALED(*stopped) && WTERMSIG(*stopped) == SIGTERM);
}
