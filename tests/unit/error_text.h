#pragma once
// The text of the error a call raises, for tests that check failures by their message.
#include <stdexcept>
#include <string>

namespace testsupport {
template <typename Call>
std::string errorOf(Call call) {
  try {
    call();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(nothing thrown)";
}
}  // namespace testsupport
