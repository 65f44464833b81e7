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
work=$(mktemp -d)

cleanup() {
  # The sandbox ends with its main process, the service.
  [[ -n ${service:-} ]] && kill -TERM "$service" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$repo/tools/sandbox/unit-sandbox" --build "$build" --status-fd 3 "$work/state" -- /bin/sh -c "exec start-unit.sh" \
  3>"$work/status.json" >"$work/console.log" 2>&1 &
for _ in $(seq 100); do
  pid=$(python3 -c 'import json, sys; print(json.loads(open(sys.argv[1]).readline())["child-pid"])' \
    "$work/status.json" 2>/dev/null) && break
  sleep 0.1
done
inside() { nsenter -t "$pid" -n -- "$@"; }
for _ in $(seq 100); do
  inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/9000' 2>/dev/null && break
  sleep 0.1
done
# Diagnostics at Warn, as on a unit in use.
echo "{'MemApp':{'AppServiceLogLevel':'Warn'}}" |
  inside "$build/bin/fcgi-request" -b - SCRIPT_NAME=/api/v1/set.cgi REQUEST_METHOD=POST >/dev/null
# The sandbox's first process is its init; the service is its child.
service=$(pgrep -P "$pid" -x webservice)
rss() { awk '/^VmRSS/ {print $2 " kB"}' "/proc/$service/status"; }
fds() { ls "/proc/$service/fd" | wc -l; }
echo "service pid $service: resident $(rss), $(fds) descriptors"
status=0
inside "$build/bin/hostile-load" 9000 "$seconds" "$malformed" || status=$?
if [[ $(cat "/proc/$service/comm" 2>/dev/null) == webservice ]]; then
  echo "service pid $service still running: resident $(rss), $(fds) descriptors"
else
  echo "service ended"
  status=1
fi
exit $status
