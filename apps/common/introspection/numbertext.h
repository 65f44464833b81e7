#pragma once
// Numbers appended as text without printf: the same digits as "%d" and as "%f" of the value, and bytes
// as two lower-case hex digits each.
#include <cstddef>
#include <cstdint>
#include <string>

void appendDecimal(std::string& out, int32_t value);
// Fixed notation with six decimals, rounded as printf rounds (to nearest, ties to even).
void appendFixed(std::string& out, float value);
// count bytes from address, no separators.
void appendHex(std::string& out, const void* address, std::size_t count);
