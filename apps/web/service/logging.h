#pragma once
// The kernel log as HTML: runs "dmesg --color=always -w" as a child, reads its output through a pipe
// registered with the event poll and keeps everything it wrote, converted, in one growing text. A
// reader that dies is started again after a pause; its replay of the kernel's buffer is skipped.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/polltimer.h"
#include "apps/web/service/childprocess.h"
#include "apps/web/service/logconverter.h"
#include "apps/web/service/logresume.h"
#include "apps/web/service/logtext.h"

class Logging : public EventPoll::Callback {
 public:
  static constexpr size_t kChunkSize = 256;
  // Pause before a dead reader is started again: doubled while readers die young, up to the last.
  static constexpr std::chrono::milliseconds kFirstRestart{500};
  static constexpr std::chrono::milliseconds kLastRestart{30000};
  static constexpr std::chrono::seconds kYoung{10};
  // A replay quiet this long has ended short of the page's end.
  static constexpr std::chrono::milliseconds kReplayQuiet{1000};

  // The program and its arguments, run without a shell; the kernel-log reader unless told otherwise.
  explicit Logging(EventPoll& poll, std::vector<std::string> command = {"dmesg", "--color=always", "-w"});
  ~Logging();
  Logging(const Logging&) = delete;
  Logging& operator=(const Logging&) = delete;

  // Starts the child; throws when it cannot, and the text then stays empty. A child that cannot
  // execute the reader (status 127) is reported once and not started again.
  void init();

  void event(EventType type) override;
  void parseData();

  // The newest part of the converted log, and where it stands in the whole stream since start.
  std::string_view getHtml() const { return html.view(); }
  const LogText& getText() const { return html; }

  // Where the answer to a log request with this query starts in a text of that length: after the
  // bytes the browser has ("offset=N"), or at 0 for the whole text when the offset is absent, 0, not
  // a number, negative or beyond the text. Nothing while the browser has it all and must wait.
  static std::optional<LogText::Position> answerStart(const std::string& query, LogText::Position length);

 private:
  void restart();
  void replayQuiet();

  EventPoll& poll;
  LogText html;
  Descriptor readEnd;  // the pipe from the child
  std::optional<ChildProcess> child;
  LogConverter converter;
  std::vector<std::string> command;
  bool registered = false;
  LogResume resume;
  std::string fresh;  // what of a chunk is new, reused
  std::chrono::steady_clock::time_point startedAt;
  std::chrono::milliseconds restartDelay = kFirstRestart;
  // Restarts the reader while none runs, and ends a replay gone quiet while one does.
  PollTimer timer;
};
