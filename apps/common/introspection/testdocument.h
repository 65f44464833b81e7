#pragma once
// The whole-state variables tree as the web API writes it, for tests and the benchmark: every
// memory and every variable, arrays of structures element by element, values in their JSON forms.
#include <string>

// Appends the tree ("MemPersistent" : {...},... "MemApp" : {...}) to out.
void renderVariableTree(std::string& out);

// One variable as the tree holds it: an array of structures in brackets, anything else one value.
void renderVariable(unsigned int mem, unsigned int var, std::string& out);

// Fills the mapped payloads with the simulator's start values of every row and structure field.
void storeDefaultValues();
