#include "apps/common/introspection/json.h"

#include <iterator>

bool Json::isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool Json::isString(char c) { return c == '"' || c == '\''; }

char Json::isObjectStart(char c) {
  if (c == '[') return ']';
  if (c == '{') return '}';
  return 0;
}

namespace {
// Where a completed value leaves the reader when more pairs may follow.
Json::State nextPairState(bool topIsArray) { return topIsArray ? Json::ValueStart : Json::NameStart; }
}  // namespace

template <>
Json::State Json::nextChar<Json::Start>(char c) {
  if (c == '{') {
    topClose = '}';
    return topIsArray ? ValueStart : NameStart;
  }
  if (c == '[') {
    topClose = ']';
    topIsArray = true;
    return ValueStart;
  }
  return Error;
}

template <>
Json::State Json::nextChar<Json::NameStart>(char c) {
  if (isString(c)) {
    nameQuote = c;
    return Name;
  }
  nameQuote = 0;
  name.push_back(c);
  return Name;
}

template <>
Json::State Json::nextChar<Json::Name>(char c) {
  if (c == ':') return ValueStart;
  // A quoted name also ends at a blank: names of this system never contain one.
  if (isWhitespace(c) || (nameQuote != 0 && c == nameQuote)) return NameEnd;
  name.push_back(c);
  return Name;
}

template <>
Json::State Json::nextChar<Json::NameEnd>(char c) {
  return c == ':' ? ValueStart : Error;
}

template <>
Json::State Json::nextChar<Json::ValueStart>(char c) {
  if (char close = isObjectStart(c); close != 0) {
    value.push_back(c);
    openChar = c;
    closeChar = close;
    depth = 1;
    nested = true;
    return Value;
  }
  if (isString(c)) {
    closeChar = c;
    openChar = 0;
    depth = 1;
    return Value;
  }
  openChar = 0;
  closeChar = 0;
  value.push_back(c);
  return Value;
}

template <>
Json::State Json::nextChar<Json::Value>(char c) {
  if (closeChar == 0) {  // bare value: ends at a blank, a comma or the outermost closing bracket
    if (isWhitespace(c)) {
      completeValue();
      return ValueEnd;
    }
    if (c == ',') {
      completeValue();
      return nextPairState(topIsArray);
    }
    if (c == topClose) {
      completeValue();
      return End;
    }
    value.push_back(c);
    return Value;
  }
  if (openChar != 0 && c == openChar) {
    ++depth;
  } else if (c == closeChar && --depth == 0) {
    if (nested) value.push_back(c);
    completeValue();
    return ValueEnd;
  }
  value.push_back(c);
  return Value;
}

template <>
Json::State Json::nextChar<Json::ValueEnd>(char c) {
  if (c == ',') return nextPairState(topIsArray);
  if (c == topClose) return End;
  return Error;
}

template <>
Json::State Json::nextChar<Json::End>(char c) {
  return isWhitespace(c) ? End : Error;
}

void Json::completeValue() {
  members.emplace_back(name, ObjectValue{value, nested});
  clearPair();
}

void Json::clearPair() {
  name.clear();
  value.clear();
  nested = false;
  nameQuote = 0;
  openChar = 0;
  closeChar = 0;
  depth = 0;
}

Json::State Json::step(char c) {
  using Step = State (Json::*)(char);
  static constexpr Step kSteps[] = {&Json::nextChar<Start>,    &Json::nextChar<NameStart>,  &Json::nextChar<Name>,
                                    &Json::nextChar<NameEnd>,  &Json::nextChar<ValueStart>, &Json::nextChar<Value>,
                                    &Json::nextChar<ValueEnd>, &Json::nextChar<End>};
  static_assert(std::size(kSteps) == Error, "one step per state that reads characters");
  return state < Error ? (this->*kSteps[state])(c) : Error;
}

bool Json::parse(const std::string& source) {
  // Callers pass the value of one of our own members; appending pairs may move it, so read a copy.
  const std::string text = source;
  errorPosition = -1;
  state = Start;
  // A pair left unfinished by an earlier text that was cut short must not leak into this one.
  clearPair();
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (state != Name && state != Value && isWhitespace(c)) continue;
    state = step(c);
    if (state == Error) {
      errorPosition = static_cast<int>(i);
      return false;
    }
  }
  return true;
}
