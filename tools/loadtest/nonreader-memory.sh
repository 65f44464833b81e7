#!/bin/bash
# Kernel memory of the unit's TCP sockets while READERS FastCGI connections each ask for the whole state and
# never read, in a unit sandbox of its own (its network namespace counts only its own sockets), with the
# service's resident memory before and while they hold.
#
#   nonreader-memory.sh [BUILD_DIR] [READERS] [HOLD_MS]     default: build/, 100 readers, 3000 ms
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
readers=${2:-100}
hold=${3:-3000}
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build"
echo "service resident $(rss) kB before"
inside "$build/bin/hostile-load" 9000 --non-readers "$readers" "$hold" &
client=$!
sleep "$(awk -v ms="$hold" 'BEGIN {print ms / 2000}')"
echo "service resident $(rss) kB while they hold"
wait "$client"
