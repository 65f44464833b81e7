#include "apps/web/service/childprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/event/eventpoll.h"

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

TEST(ChildWatch, EndsAreReportedByTheLoopAndAChildPastItsBoundIsKilledThenCollected) {
  EventPoll poll;
  ChildWatch watch(poll);
  std::vector<std::optional<int>> ends;
  const auto turnUntil = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) poll.wait(10, true);
    return done();
  };

  // The next child is started from the callback that reports the first: an event of the first run
  // still in the batch must not be taken for the second's.
  watch.start({"sh", "-c", "exit 3"}, {}, std::chrono::seconds(10), [&](std::optional<int> status) {
    ends.push_back(status);
    watch.start({"sh", "-c", "exit 4"}, {}, std::chrono::seconds(10),
                [&](std::optional<int> second) { ends.push_back(second); });
  });
  EXPECT_THROW(watch.start({"true"}, {}, std::chrono::seconds(1), {}), std::runtime_error) << "one at a time";
  ASSERT_TRUE(turnUntil([&] { return ends.size() == 2; }));
  ASSERT_TRUE(ends[0] && ends[1]);
  EXPECT_TRUE(WIFEXITED(*ends[0]) && WEXITSTATUS(*ends[0]) == 3);
  EXPECT_TRUE(WIFEXITED(*ends[1]) && WEXITSTATUS(*ends[1]) == 4);
  EXPECT_FALSE(watch.busy());

  ends.clear();
  const auto began = std::chrono::steady_clock::now();
  watch.start({"sleep", "1000"}, {}, std::chrono::milliseconds(100),
              [&](std::optional<int> status) { ends.push_back(status); });
  const pid_t sleeper = watch.id();
  ASSERT_TRUE(turnUntil([&] { return !ends.empty(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(100));
  EXPECT_EQ(ends, std::vector<std::optional<int>>{std::nullopt}) << "reported once, as killed";
  ASSERT_TRUE(turnUntil([&] { return !watch.busy(); }));
  EXPECT_EQ(ends.size(), 1u);
  EXPECT_EQ(::kill(sleeper, 0), -1) << "collected, not left a zombie";
  EXPECT_EQ(errno, ESRCH);

  // One still running when the watch goes is ended with it.
  pid_t orphan = 0;
  {
    ChildWatch leaving(poll);
    leaving.start({"sleep", "1000"}, {}, std::chrono::seconds(10), {});
    orphan = leaving.id();
  }
  EXPECT_EQ(::kill(orphan, 0), -1);
}
