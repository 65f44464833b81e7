#pragma once
// The simulator's start values in test payloads, for tests and the benchmark of the whole-state tree.

// Fills the mapped payloads with the simulator's start values of every row and structure field.
void storeDefaultValues();
