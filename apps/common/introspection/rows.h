#pragma once
// Sizes that a catalogue row states as text, read the one way every reader and writer shares.
#include "apps/common/introspection/catalogue.h"

// Character capacity of a string row; 0 when the row states none that converts.
unsigned int stringCapacity(const VariableInfo& row);

// Elements of a structure row: its array length for an array, 1 for a single structure, 0 when
// the length does not convert.
unsigned int structElementCount(const VariableInfo& row);
