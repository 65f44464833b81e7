#!/bin/bash
# Bytes on the wire and CPU time per whole-state request through nginx, uncompressed and gzip'ed (the
# client's Accept-Encoding decides), on a service in a unit sandbox of its own.
#
#   compression.sh [BUILD_DIR] [REQUESTS]    default: build/ and 100 requests each way
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
requests=${2:-100}
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front
master=$(pgrep -P "$unit_init" -x nginx)
worker=$(pgrep -P "$master" -x nginx)
url=http://127.0.0.1:8080/api/v1/all.cgi

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; } # user + system, in clock ticks
per_request() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v n="$requests" 'BEGIN {printf "%.2f ms", 1000 * t / hz / n}'; }

for encoding in identity gzip; do
  bytes=$(inside curl -s -H "Accept-Encoding: $encoding" -o /dev/null -w '%{size_download}' "$url")
  nginx_before=$(ticks "$worker") service_before=$(ticks "$service") start=$(date +%s%N)
  for _ in $(seq "$requests"); do inside curl -s -H "Accept-Encoding: $encoding" -o /dev/null "$url"; done
  wall=$((($(date +%s%N) - start) / 1000000 / requests))
  nginx_cpu=$(per_request $(($(ticks "$worker") - nginx_before)))
  service_cpu=$(per_request $(($(ticks "$service") - service_before)))
  echo "$encoding: $bytes bytes on the wire; CPU per request: nginx $nginx_cpu, service $service_cpu;" \
    "$wall ms a request on loopback"
done
