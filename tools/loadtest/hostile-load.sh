#!/bin/bash
# Runs hostile-load against the service in a unit sandbox of its own (private network: every connection
# stays on the sandbox's loopback), then tells whether the service is still the same running process.
#
#   hostile-load.sh [BUILD_DIR] [SECONDS] [MALFORMED]    default: build/, 60 s, 20000 malformed connections
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
seconds=${2:-60}
malformed=${3:-20000}
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build"
echo "service pid $service: resident $(rss) kB, $(fds) descriptors"
status=0
inside "$build/bin/hostile-load" 9000 "$seconds" "$malformed" || status=$?
if [[ $(cat "/proc/$service/comm" 2>/dev/null) == webservice ]]; then
  echo "service pid $service still running: resident $(rss) kB, $(fds) descriptors"
else
  echo "service ended"
  status=1
fi
exit $status
