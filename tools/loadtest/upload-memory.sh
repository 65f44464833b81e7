#!/bin/bash
# Peak resident memory of the service while it receives and stores one software update through nginx,
# against its idle footprint, in a fresh unit sandbox (private network, loopback only).
#
#   upload-memory.sh [--build DIR] [MIB]    default: the repository's build/, a 64 MiB update
#
# Prints idle and peak resident memory (VmRSS before, VmHWM after), the growth, and the growth as a
# multiple of the upload's size.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$repo/build
if [[ ${1:-} == --build ]]; then build=$(cd "$2" && pwd); shift 2; fi
mib=${1:-64}
state=$(mktemp -d /tmp/upload-memory.XXXXXX)
trap 'rm -rf "$state"' EXIT

# Runs inside the sandbox in place of the service, which it starts itself to watch it.
cat >"$state/measure.sh" <<'INSIDE'
set -eu
nginx_script=$1
mib=$2
webservice &
service=$!
"$nginx_script" /tmp/nginx 8080 >/dev/null
for _ in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:8080/qorapp/v1/device/info && break; sleep 0.05; done
head -c $((mib * 1048576)) /dev/urandom >/tmp/update.swu
kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$service/status"; }
idle=$(kib VmRSS)
answer=$(curl -s -F deviceid=handunit-10042 -F file=@/tmp/update.swu http://127.0.0.1:8080/qorapp/v1/device/update)
peak=$(kib VmHWM)
cmp -s /tmp/update.swu /update/host.swu || { echo "the stored update differs from the upload: $answer" >&2; exit 1; }
kill "$service"
echo "$idle $peak"
INSIDE

result=$("$repo/tools/sandbox/unit-sandbox" --build "$build" --ro-bind "$repo/tools/nginx" "$state" -- \
  /bin/sh -c "exec start-unit.sh --factory-block 10042 handunit -- /bin/bash \"\$UNIT_SANDBOX_STATE/measure.sh\" \
  $repo/tools/nginx/start-nginx.sh $mib")
read -r idle peak <<<"$result"
upload=$((mib * 1024))
growth=$((peak - idle))
echo "upload:      $upload KiB"
echo "idle RSS:    $idle KiB"
echo "peak RSS:    $peak KiB"
echo "growth:      $growth KiB"
awk -v g="$growth" -v u="$upload" 'BEGIN { printf "growth/size: %.2f (target at most 1.10)\n", g / u }'
