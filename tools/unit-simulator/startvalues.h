#pragma once
// What a simulated unit holds a few seconds after boot: the catalogue's start values, and what the
// catalogue leaves open filled in as the unit's processes would have it.
#include <string>

// Stores them into the mapped payloads through the rows' setters; answers one line per refused value.
std::string storeStartValues();

// The lens tables that the lens file list names, as files in folder (the unit's lens-table folder).
void writeLensTables(const std::string& folder);
