#pragma once
// Service-mode routes that program accessories over their 1-Wire memories: the connected modem's
// type, and premarked lens rings written by the external tool "onewire-tool.py".
#include <chrono>
#include <ctime>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/childprocess.h"

class Fcgi;
class Request;

// A tool stuck on a bad 1-Wire bus is killed after this long.
constexpr std::chrono::milliseconds kOneWireToolTimeout = std::chrono::seconds(30);

// The external writer, where its output goes and how long it may take.
struct OneWireTool {
  std::string program = "onewire-tool.py";  // looked up on PATH
  std::string logDevice = "/dev/kmsg";
  std::chrono::milliseconds timeout = kOneWireToolTimeout;
};

// Answers with the JSON head and an empty body at once; failures are reported in the kernel log.
void handleModemData(Request* request);
void writeModemData(const std::string& body);

// 100 × (year − 2000) + week of the year, weeks starting on Sunday, the days before the first Sunday week 0.
int dateCode(const std::tm& now);
// The three lines for the ring: date code, ring-type digit, and the value that goes with the type: a
// decimal number within what that type of ring takes, sent as text or as a JSON number. Anything
// else throws, with a text fit for the answer.
std::string ringText(const nlohmann::json& body, const std::tm& now);

// "/api/v1/premarkeddata.cgi": writes one ring at a time through the tool, which runs while the loop
// serves other requests. The answer (the JSON head alone on success, else the error) follows the
// tool's end; a request whose connection has gone by then is left alone.
class PremarkedRing {
 public:
  PremarkedRing(EventPoll& poll, Fcgi& fcgi, OneWireTool tool = OneWireTool());
  PremarkedRing(const PremarkedRing&) = delete;
  PremarkedRing& operator=(const PremarkedRing&) = delete;

  // The date code is taken from now, in local time.
  void handle(Request* request);
  void handle(Request* request, const std::tm& now);
  // The tool runs, or was killed at its bound and is not collected yet.
  bool busy() const { return watch.busy(); }

 private:
  void start(const std::string& text, unsigned int requestId);
  void toolEnded(unsigned int requestId, std::optional<int> status);
  // Ends the ring's write: the flag down, and the answer to the request if it still exists.
  void finish(unsigned int requestId, const std::string& error);

  Fcgi& fcgi;
  OneWireTool tool;
  ChildWatch watch;
};
