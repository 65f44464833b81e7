#pragma once
// The simulator's start values in test payloads, for tests and the benchmark of the whole-state tree.
#include <string>

// Fills the mapped payloads with the simulator's start values of every row and structure field;
// returns one line per value its setter refused, empty when all were taken.
std::string storeDefaultValues();
