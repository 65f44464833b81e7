#pragma once
// Variables rendered into the whole-state and update documents, appended to a buffer that the caller
// reuses: the text around each value is the row's, as generated; values are formatted in place.
#include <functional>
#include <string>

// An array of structures as [element,element,...], anything else as one value object. A value that
// fails to render becomes {"error": "..."} in its place, so the document stays readable.
void appendVariable(std::string& out, unsigned int mem, unsigned int var);
// One value of a variable: element index of an array, 0 for any other.
void appendVariableValue(std::string& out, unsigned int mem, unsigned int var, int index);

// The whole-state tree: "MemPersistent" : {"AUXTorque" : value,...},... in catalogue order.
// beforeVariable, when given, runs before each variable (so that a caller can send what out holds).
void appendVariableTree(std::string& out, const std::function<void()>& beforeVariable = {});
