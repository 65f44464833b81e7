#!/bin/bash
# Writes and their latency while the broker stalls (it accepts, reads and sends nothing), measured on a
# service in a unit sandbox of its own; then whether the service is connected again once the broker
# resumes. Every write is a real change, so each one has a record for the stalled broker.
#
#   stalled-broker.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]    default: build/, 10 s, 2 connections
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
seconds=${2:-10}
connections=${3:-2}
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build"
kmsg=$work/state/kmsg.log
broker=$(cat "$work/state/broker.pid")
in_unit() { nsenter -t "$service" -m -p -- "$@"; }

in_unit kill -USR1 "$broker"
echo "== writes while the broker stalls ($connections connections, $seconds s)"
inside "$build/bin/handler-bench" set 9000 "$connections" "$seconds"
echo "connection dropped for not reading: $(grep -c 'it does not read what the service sends' "$kmsg") times"

in_unit kill -USR2 "$broker"
resumed=$(date +%s.%N)
for _ in $(seq 100); do
  lost=$(grep -c 'Lost the message broker' "$kmsg")
  back=$(grep -c 'Message broker connection back' "$kmsg")
  ((back >= lost)) && break
  sleep 0.1
done
printf 'broker resumed: connected again after %.1f s (%d losses, %d returns)\n' \
  "$(echo "$(date +%s.%N) - $resumed" | bc)" "$lost" "$back"
