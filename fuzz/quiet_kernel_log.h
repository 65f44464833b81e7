#pragma once
// Fuzz targets run millions of inputs whose failures are logged: the lines must never reach the
// host's kernel log, and formatting debug lines would only slow the run.
namespace fuzzsupport {
// Moves the process into a private mount namespace with /dev/kmsg bound to /dev/null and raises the
// diagnostic threshold to Error. Ends the process when the namespace cannot be made.
void quietKernelLog();
}  // namespace fuzzsupport
