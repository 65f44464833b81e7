#!/bin/bash
# Installs what is missing, builds, and runs the service against a simulated unit in the unit sandbox,
# sharing the host's network so that a browser can reach it. Ctrl-C stops it (SIGINT, an orderly stop).
#
#   run-dev.sh [STATE_DIR]    default STATE_DIR: build/dev-state (kmsg.log, broker.log, var/, update/, ...)
#
# BUILD_DIR in the environment chooses another build tree than build/; HTTP_PORT the port of the HTTP
# front (default 8080); LOG_LEVEL the service's diagnostic threshold at start (default Warn); DEMO=0 keeps
# the unit still (by default its motors, focus distance and battery move a few times a second).
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
state=${1:-$build/dev-state}
port=${HTTP_PORT:-8080}

"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug
ninja -C "$build" -j2 webservice message-broker unit-simulator

# Each run starts from an empty unit; the folder of the previous run is replaced.
rm -rf "$state"
mkdir -p "$state"

# Started inside the sandbox, in this order: the HTTP front (nginx, its files under tmp/nginx of the state
# folder), then start-unit.sh: message broker, the simulated segments, a factory hardware block, the update
# machinery, the demo, and the service in the foreground.
startup="$repo/tools/nginx/start-nginx.sh /tmp/nginx $port && exec start-unit.sh --factory-block 10042 handunit --updater"
[[ ${DEMO:-1} == 0 ]] || startup+=" --demo"
[[ -z ${LOG_LEVEL:-} ]] || startup+=" --log-level $LOG_LEVEL"

echo "Unit state folder: $state (kernel log: $state/kmsg.log)"
echo "FastCGI responder: 127.0.0.1:9000 on this host"
echo "Unit console: http://127.0.0.1:$port/ (HTTP front: nginx, log in $state/tmp/nginx/error.log)"
if [[ ${DEMO:-1} == 0 ]]; then
  echo "Demo: off, the unit holds still"
else
  echo "Demo: on, motors, focus distance and battery move (DEMO=0 for a still unit)"
fi
echo "The service logs from ${LOG_LEVEL:-Warn} up (LOG_LEVEL=DebugAll for all; at run time: MemApp AppServiceLogLevel)"
exec "$repo/tools/sandbox/unit-sandbox" --host-net --build "$build" "$state" -- /bin/sh -c "$startup"
