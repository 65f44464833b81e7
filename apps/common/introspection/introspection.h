#pragma once
// Indexed access to the generated catalogue: names, types, bounds, values as text.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "apps/common/event/notify.h"
#include "apps/common/introspection/json.h"

class Introspection {
 public:
  using Members = std::vector<std::pair<std::string, Json::ObjectValue>>;

  static unsigned int getMemCount();
  static const char* getMemName(unsigned int mem);
  static unsigned int getMemIndex(const std::string& name);
  static unsigned int getVarCount(unsigned int mem);
  // The row named name in memory mem; false when there is none.
  static bool findVariable(unsigned int mem, const std::string& name, unsigned int& var);
  static const char* getVarName(unsigned int mem, unsigned int var);
  static const char* getVarType(unsigned int mem, unsigned int var);
  static unsigned int getVarBaseType(unsigned int mem, unsigned int var);
  static const char* getVarArrayLen(unsigned int mem, unsigned int var);
  static bool isArray(unsigned int mem, unsigned int var);
  static Notify getVarEvent(unsigned int mem, unsigned int var);
  static void genEventToVar();
  static void getVarLocation(const Notify& event, unsigned int& mem, unsigned int& var);
  static std::string getVarValue(unsigned int mem, unsigned int var, int index);
  static std::string setVarValue(unsigned int mem, unsigned int var, const char* text);
  static std::string setVarValueJson(unsigned int mem, unsigned int var, const Members& members, int index);
  static std::string getVarMin(unsigned int mem, unsigned int var);
  static std::string getVarMax(unsigned int mem, unsigned int var);
  static std::string printValue(const std::string& value, const std::string& type, const std::string& min,
                                const std::string& max);
  static std::string_view printBool(bool value);
  // A backslash before every match of the escape pattern; the text unchanged while none is set. Kept for
  // the unit's other programs: this service's JSON goes through appendJsonEscaped, which also handles
  // control bytes and text that is not UTF-8.
  static std::string escape(const std::string& text);
  static void setEscapeCharacters(const std::string& pattern);
};

// The name of the event's number in EVENT_NAME, "Invalid" beyond the table.
const char* eventName(Notify notify);
