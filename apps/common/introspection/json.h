#pragma once
// One-level JSON reader for write requests: splits an object or array into name/value text pairs
// and keeps nested values as raw text, to be read again by another parse().
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Json {
 public:
  struct ObjectValue {
    std::string value;
    bool isObject = false;
  };
  enum State { Start = 0, NameStart, Name, NameEnd, ValueStart, Value, ValueEnd, End, Error };

  Json() = default;
  bool parse(const std::string& text);

  std::vector<std::pair<std::string, ObjectValue>> members;
  int errorPosition = -1;

  // One step function per state that reads characters (Error reads none), specialised in json.cpp.
  template <int N>
  State nextChar(char c);
  static bool isWhitespace(char c);
  static bool isString(char c);
  static char isObjectStart(char c);

 private:
  State step(char c);
  void completeValue();
  void clearPair();

  std::string name;
  char nameQuote = 0;
  std::string value;
  bool nested = false;
  char openChar = 0;
  char closeChar = 0;
  uint32_t depth = 0;
  char topClose = 0;
  bool topIsArray = false;
  State state = Start;
};
