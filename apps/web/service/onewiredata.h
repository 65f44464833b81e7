#pragma once
// Service-mode routes that program accessories over their 1-Wire memories: the connected modem's
// type, and premarked lens rings written by the external tool "onewire-tool.py".
#include <chrono>
#include <ctime>
#include <nlohmann/json_fwd.hpp>
#include <string>

class Request;

// The service's loop waits for the tool; one stuck on a bad 1-Wire bus is ended after this long.
constexpr std::chrono::milliseconds kOneWireToolTimeout = std::chrono::seconds(30);

// The external writer, where its output goes and how long it may take.
struct OneWireTool {
  std::string program = "onewire-tool.py";  // looked up on PATH
  std::string logDevice = "/dev/kmsg";
  std::chrono::milliseconds timeout = kOneWireToolTimeout;
};

// Both answer with the JSON head and an empty body at once; failures are reported in the kernel log.
void handleModemData(Request* request);
void handlePremarkedData(Request* request, const OneWireTool& tool = OneWireTool());

void writeModemData(const std::string& body);
void writePremarkedData(const std::string& body, const std::tm& now, const OneWireTool& tool);

// 100 × (year − 2000) + week of the year, weeks starting on Sunday, the days before the first Sunday week 0.
int dateCode(const std::tm& now);
// The three lines for the ring: date code, ring-type digit, the value that goes with the type.
std::string ringText(const nlohmann::json& body, const std::tm& now);
// Runs the tool with "-e -m knob", text on its standard input and its output and errors to the log
// device; true when it exits with status 0. A tool still running after its timeout is ended with its
// process group and counts as failed.
bool runOneWireTool(const std::string& text, const OneWireTool& tool);
