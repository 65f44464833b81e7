#pragma once
// Sizes of a catalogue row, as every reader and writer shares them.
#include "apps/common/introspection/catalogue.h"

// Character capacity of a string row.
inline unsigned int stringCapacity(const VariableInfo& row) { return row.length; }

// Elements of a structure row: its array length for an array, 1 for a single structure.
inline unsigned int structElementCount(const VariableInfo& row) { return row.isArray ? row.length : 1; }
