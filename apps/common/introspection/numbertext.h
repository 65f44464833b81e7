#pragma once
// Numbers appended as text without printf: the same digits as "%d" and as "%f" of the value.
#include <cstdint>
#include <string>

void appendDecimal(std::string& out, int32_t value);
// Fixed notation with six decimals, rounded as printf rounds (to nearest, ties to even).
void appendFixed(std::string& out, float value);
