#pragma once
// The kernel log as HTML: runs "dmesg --color=always -w" as a child, reads its output through a pipe
// registered with the event poll and keeps everything it wrote, converted, in one growing text.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/logconverter.h"
#include "apps/web/service/logtext.h"

class Logging : public EventPoll::Callback {
 public:
  static constexpr const char* kCommand = "dmesg --color=always -w";
  static constexpr size_t kChunkSize = 256;

  explicit Logging(EventPoll& poll, std::string command = kCommand);
  ~Logging();
  Logging(const Logging&) = delete;
  Logging& operator=(const Logging&) = delete;

  // Starts the child; throws when it cannot, and the text then stays empty.
  void init();
  // Runs command through "/bin/sh" with its standard output on a new pipe; answers the read end.
  static int popen(const char* command, int& pid);

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
  void stopChild();

  EventPoll& poll;
  LogText html;
  int fd = -1;
  pid_t pid = 0;
  LogConverter converter;
  std::string command;
  bool registered = false;
};
