#pragma once
// Unit tests never write to the host's kernel log: the test main moves the process into a private mount
// namespace in which /dev/kmsg is a FIFO drained by a helper process into a private file, and tests read
// back what was written there, in order, whichever process wrote it.
#include <cstddef>
#include <string>

namespace testsupport {
// Called once by the test main, before any test runs and before any thread exists.
void isolateKernelLog();

// Everything written to /dev/kmsg by this process (and its children) so far.
std::string kernelLogText();

// What was written since a previous kernelLogText().size().
std::string kernelLogSince(size_t offset);
}  // namespace testsupport
