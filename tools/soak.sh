#!/bin/bash
# Mixed traffic through nginx against the service in a unit sandbox of its own for MINUTES: whole state,
# writes, long-polls, the log stream, screenshots, lens-table transfers and accessory uploads. Reports the
# service's resident memory and descriptors after warm-up and at the end, the requests made and every error.
#
#   soak.sh MINUTES [BUILD_DIR]     default build/; exits 1 on any error or when the service ended
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
minutes=${1:?usage: soak.sh MINUTES [BUILD_DIR]}
build=$(cd "${2:-$repo/build}" && pwd)
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front
head -c 200000 /dev/urandom >"$work/accessory.cmf"
head -c 20000 /dev/urandom >"$work/lens.tab"

# One client's rounds until the end time; writes "requests errors" to its result file, each error to stderr.
traffic() {
  local until=$1 result=$2 base=http://127.0.0.1:8080 requests=0 errors=0 round=0
  # get WHAT EXPECTED-EXIT-CODES CURL-ARGS...: long-polls may end by our own time limit (28).
  get() {
    local what=$1 allowed=$2 code status
    shift 2
    requests=$((requests + 1))
    status=$(curl -s -o /dev/null -w '%{http_code}' "$@") && code=0 || code=$?
    if [[ ! " 0 $allowed " =~ " $code " ]] || [[ $code -eq 0 && $status != 200 ]]; then
      errors=$((errors + 1))
      echo "error: $what: curl exit $code, HTTP $status" >&2
    fi
  }
  while ((SECONDS < until)); do
    round=$((round + 1))
    get all '' "$base/api/v1/all.cgi"
    get set '' --data "{'MemPersistent':{'AUXTorque':$((round % 4 + 1))}}" "$base/api/v1/set.cgi"
    get update 28 -m 2 "$base/api/v1/update.cgi"
    get log 28 -m 1 "$base/api/v1/log.cgi?offset=0"
    if ((round % 5 == 0)); then
      get screen '' "$base/api/v1/screen.cgi"
      get put '' -X PUT --data-binary "@$WORK/lens.tab" "$base/qorapp/v1/lenstables/file/soak$round.tab"
      get fetch '' "$base/qorapp/v1/lenstables/file/soak$round.tab"
      get list '' "$base/qorapp/v2/lenstables/list"
      get delete '' -X DELETE "$base/qorapp/v1/lenstables/file/soak$round.tab"
      get info '' "$base/qorapp/v1/device/info"
    fi
    ((round % 20 == 0)) && get upload '' -F deviceid=ABC-DEF-42 -F "file=@$WORK/accessory.cmf" "$base/qorapp/v1/device/update"
  done
  echo "$requests $errors" >"$result"
}
export -f traffic
export WORK=$work

warmup=$((minutes * 60 / 10))
((warmup < 20)) && warmup=20
end=$((SECONDS + warmup + minutes * 60))
echo "service pid $service: resident $(rss) kB, $(fds) descriptors at start; soaking ${minutes} min after ${warmup} s warm-up"
clients=()
for client in 1 2 3; do
  inside bash -c "traffic $end $work/result.$client" 2>>"$work/errors.log" &
  clients+=($!)
done
sleep "$warmup"
rss_start=$(rss)
fds_start=$(fds)
echo "after warm-up: resident $rss_start kB, $fds_start descriptors"
wait "${clients[@]}"
if [[ $(cat "/proc/$service/comm" 2>/dev/null) != webservice ]]; then
  echo "service ended"
  exit 1
fi
rss_end=$(rss)
fds_end=$(fds)
read -r requests errors < <(cat "$work"/result.* | awk '{r += $1; e += $2} END {print r, e}')
echo "at the end: resident $rss_end kB ($((rss_end - rss_start)) kB since warm-up), $fds_end descriptors"
echo "requests: $requests, errors: $errors"
sort "$work/errors.log" | uniq -c | head -20
[[ $errors -eq 0 ]]
