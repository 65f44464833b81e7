#!/bin/bash
# Figures of the variable API, measured on a service in a unit sandbox of its own (private network, so
# every request stays on the sandbox's loopback):
#   - whole-state requests over keep-alive FastCGI and through nginx, 1 and 8 clients;
#   - writes (each one a real change) over FastCGI and through nginx;
#   - time from a change to the answers of 1 and of 30 waiting update requests;
#   - resident memory of the service idle and while 8 clients read the whole state.
#
#   handler-bench.sh [BUILD_DIR] [SECONDS]    default: build/ and 10 s per load run
#
# A Release build gives the figures to report. The diagnostic threshold is raised to Warn first, as on a
# unit in use; every run is bounded by its seconds or rounds.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
seconds=${2:-10}
bench=$build/bin/handler-bench
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front
echo "service pid $service (host view), resident memory idle: $(rss) kB"

echo "== whole state over keep-alive FastCGI"
inside "$bench" whole 9000 1 "$seconds"
# The peak while 8 clients read at once, sampled every 50 ms.
inside "$bench" whole 9000 8 "$seconds" &
load=$!
peak=0
while kill -0 "$load" 2>/dev/null; do
  now=$(rss)
  ((now > peak)) && peak=$now
  sleep 0.05
done
wait "$load"
echo "resident memory with 8 whole-state clients: peak $peak kB; after: $(rss) kB"

echo "== whole state through nginx (wrk)"
for clients in 1 8; do
  inside wrk -t 1 -c "$clients" -d "${seconds}s" --latency http://127.0.0.1:8080/api/v1/all.cgi |
    grep -E 'Latency|50%|99%|Requests/sec|Non-2xx|Socket errors' | sed "s/^/  $clients clients: /"
done

echo "== writes"
inside "$bench" set 9000 1 "$seconds"
cat >"$work/set.lua" <<'LUA'
local n = 0
request = function()
  n = n + 1
  return wrk.format("POST", "/api/v1/set.cgi", nil, "{'MemPersistent':{'AUXTorque':" .. (n % 4 + 1) .. "}}")
end
LUA
inside wrk -t 1 -c 1 -d "${seconds}s" --latency -s "$work/set.lua" http://127.0.0.1:8080 |
  grep -E 'Latency|50%|99%|Requests/sec|Non-2xx' | sed 's/^/  through nginx: /'

echo "== change to update answer"
inside "$bench" update 9000 1 40
inside "$bench" update 9000 30 40
