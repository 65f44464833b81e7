#!/bin/bash
# Peak resident memory of the service while it receives and stores software updates of several sizes,
# through nginx and straight over FastCGI, in a fresh unit sandbox (private network, loopback only).
# Each upload goes to a service started for it, so that its high-water mark is that upload's alone.
#
#   upload-memory.sh [--build DIR] [--buffered] [MIB]...    default: the repository's build/, 16 64 256 1000
#
# The site takes bodies up to 1024 MiB, the form around the file included, so the largest default is 1000.
# --buffered lets nginx buffer each body to its own temporary file before passing it on (the site as it
# was), to compare the bytes written to storage with the site's unbuffered upload routes.
# Prints per front and size: idle and peak resident memory (VmRSS before, VmHWM after), the growth, and
# the bytes nginx and the service wrote to storage (write_bytes of /proc/PID/io).
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$repo/build
buffered=off
while [[ ${1:-} == --* ]]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --buffered) buffered=on; shift ;;
    *) echo "upload-memory.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(16 64 256 1000)
state=$(mktemp -d /tmp/upload-memory.XXXXXX)
trap 'rm -rf "$state"' EXIT

# The site as the unit has it, or with request buffering on the upload routes for the comparison.
mkdir -p "$state/site/tools" "$state/site/www"
cp -r "$repo/tools/nginx" "$state/site/tools/"
sed -i "s/fastcgi_request_buffering off;/fastcgi_request_buffering $buffered;/" "$state/site/tools/nginx/webservice-site.conf"

# Runs inside the sandbox in place of the service, which it starts itself for each upload to watch it.
cat >"$state/measure.sh" <<'INSIDE'
set -eu
site=$UNIT_SANDBOX_STATE/site/tools/nginx
"$site/start-nginx.sh" /tmp/nginx 8080 >/dev/null
kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$2/status"; }
written() {
  local total=0 pid
  for pid in "$@"; do total=$((total + $(awk '$1 == "write_bytes:" { print $2 }' "/proc/$pid/io"))); done
  echo "$total"
}
nginxPids() { pgrep -x nginx | tr '\n' ' '; }
for mib in "$@"; do
  head -c $((mib * 1048576)) /dev/urandom >/tmp/update.swu
  for front in fcgi nginx; do
    rm -f /update/host.swu
    webservice &
    service=$!
    for _ in $(seq 200); do curl -s -o /dev/null http://127.0.0.1:8080/qorapp/v1/device/info && break; sleep 0.05; done
    idle=$(kib VmRSS "$service")
    nginxBefore=$(written $(nginxPids))
    serviceBefore=$(written "$service")
    if [ "$front" = fcgi ]; then
      answer=$(upload-fcgi 127.0.0.1 9000 handunit-10042 /tmp/update.swu)
    else
      answer=$(curl -s -F deviceid=handunit-10042 -F file=@/tmp/update.swu http://127.0.0.1:8080/qorapp/v1/device/update)
    fi
    peak=$(kib VmHWM "$service")
    nginxWrote=$(( $(written $(nginxPids)) - nginxBefore ))
    serviceWrote=$(( $(written "$service") - serviceBefore ))
    cmp -s /tmp/update.swu /update/host.swu || { echo "the stored update differs from the upload: $answer" >&2; exit 1; }
    kill "$service"
    wait "$service" || true
    echo "$front $mib $idle $peak $nginxWrote $serviceWrote"
  done
done
INSIDE

printf '%-6s %9s %10s %10s %10s %14s %14s\n' front upload/MiB idle/KiB peak/KiB growth/KiB nginx-wrote/MiB service-wrote/MiB
"$repo/tools/sandbox/unit-sandbox" --build "$build" "$state" -- \
  /bin/sh -c "exec start-unit.sh --factory-block 10042 handunit -- /bin/sh \"\$UNIT_SANDBOX_STATE/measure.sh\" ${sizes[*]}" |
  while read -r front mib idle peak nginxWrote serviceWrote; do
    printf '%-6s %9s %10s %10s %10s %14.1f %14.1f\n' "$front" "$mib" "$idle" "$peak" $((peak - idle)) \
      "$(bc -l <<<"$nginxWrote / 1048576")" "$(bc -l <<<"$serviceWrote / 1048576")"
  done
echo "target: a 256 MiB upload raises the peak by at most 16384 KiB"
