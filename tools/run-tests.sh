#!/bin/bash
# Installs what is missing, builds, and runs the whole test suite (unit and sandbox integration tests).
#
#   run-tests.sh [BUILD_DIR [CMAKE_OPTION]...]      e.g. run-tests.sh build-asan -DWITH_SANITIZERS=ON
#
# Runs as root: the integration tests start the service in bubblewrap sandboxes with their own namespaces.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=${1:-$repo/build}
shift || true

"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@"
ninja -C "$build" -j2
cd "$build"
ctest --output-on-failure -j2
