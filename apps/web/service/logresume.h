#pragma once
// A restarted kernel-log reader prints the kernel's buffer from its start again. This passes on only
// what the page does not have yet: it skips the replay up to the last line passed on before, found by
// its count and its text; when the kernel has dropped old lines meanwhile, by the text alone.
#include <cstdint>
#include <string>
#include <string_view>

class LogResume {
 public:
  // Appends to out what of the reader's output is new.
  void take(std::string_view data, std::string& out);
  // A new reader starts.
  void restart();
  // The replay went quiet before the point the page has: the kernel's buffer has shrunk, and what
  // was held as possibly new goes out. False when the replay has not begun yet.
  bool settle(std::string& out);
  bool replaying() const { return catchingUp; }

 private:
  void pass(std::string_view data, std::string& out);
  void takeLine(const std::string& line, std::string& out);
  void passHeld(std::string& out);
  void follow();

  uint64_t lines = 0;  // complete lines passed on
  std::string last;    // the last of them, with its line end
  std::string tail;    // what was passed on after it

  bool catchingUp = false;
  uint64_t replayed = 0;  // complete lines of the new reader
  std::string line;       // its line so far
  std::string held;       // its lines after the latest one equal to last
};
