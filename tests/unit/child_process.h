#pragma once
// Runs part of a test in a forked child, so that process-wide state it changes (signal flags, the log writer's
// descriptor, mounts after its own unshare) stays there. GoogleTest assertions work inside the body; the child
// prints its failures itself.
#include <functional>

namespace testsupport {
// True when the body ran to its end without a failed assertion, an exception or a crash.
bool passesInChild(const std::function<void()>& body);
}  // namespace testsupport
