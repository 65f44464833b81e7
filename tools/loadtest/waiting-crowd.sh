#!/bin/bash
# A crowd of console tabs on one unit behind nginx: CLIENTS clients (default 100) long-poll for SECONDS
# (default 20), three in five following the change feed with `since`, one plain update waiter, one log
# waiter; each asks again at once after an answer, or after the second an early answer's Retry-After asks
# for. Meanwhile the unit's variables change twice a second, and a whole-state read and a write are timed
# every 200 ms. Prints the count of answers by status (early ones apart) and the read and write latencies.
#   tools/loadtest/waiting-crowd.sh [build-folder]
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(realpath "${1:-build}")
clients=${CLIENTS:-100}
seconds=${SECONDS_RUN:-20}
command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 1; }

source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front
base=http://127.0.0.1:8080/api/v1
mkdir -p "$work/crowd"

# One client: its answers' status and Retry-After, one line each.
client() {
  local kind=$1 out=$2 end=$3 since offset head
  since=$(inside curl -s -D - -o /dev/null "$base/all.cgi" | tr -d '\r' | sed -n 's/^X-Change-Sequence: //p')
  offset=$(inside curl -s "$base/log.cgi" | head -n 1 | tr -d '\r')
  while ((SECONDS < end)); do
    case $kind in
      feed) url="$base/update.cgi?since=$since" ;;
      plain) url="$base/update.cgi" ;;
      log) url="$base/log.cgi?offset=$offset" ;;
    esac
    head=$(inside curl -s -m $((end - SECONDS + 2)) -D - -o "$out.body" "$url" | tr -d '\r') || true
    local status retry
    status=$(sed -n '1s/^HTTP\/[0-9.]* \([0-9]*\).*/\1/p' <<<"$head")
    retry=$(sed -n 's/^Retry-After: //Ip' <<<"$head")
    echo "${status:-none}${retry:+ early}" >>"$out"
    [[ $kind == feed ]] && since=$(sed -n 's/^X-Change-Sequence: //p' <<<"$head")
    [[ $kind == log && $status == 200 ]] && offset=$((offset + $(tail -n +2 "$out.body" | wc -c)))
    [[ -n $retry ]] && sleep "$retry"
    [[ $status == 200 ]] || sleep 1
  done
}

end=$((SECONDS + seconds))
pids=()
for i in $(seq "$clients"); do
  case $((i % 5)) in 0) kind=log ;; 1) kind=plain ;; *) kind=feed ;; esac
  client $kind "$work/crowd/$i.answers" $end &
  pids+=($!)
done
sleep 2
value=1
while ((SECONDS < end - 1)); do
  value=$((value % 4 + 1))
  inside curl -s -o /dev/null -w 'read %{http_code} %{time_total}\n' "$base/all.cgi" >>"$work/probes"
  inside curl -s -o /dev/null -w 'write %{http_code} %{time_total}\n' \
    --data "{'MemPersistent':{'AUXTorque':$value}}" "$base/set.cgi" >>"$work/probes"
  sleep 0.2
done
wait "${pids[@]}"  # not the unit, which runs in the background too

echo "answers of $clients waiting clients in $seconds s:"
cat "$work"/crowd/*.answers | sort | uniq -c
# "none": a request still waiting when the run ended.
grep -h 'upstream' "$work/state/tmp/nginx/error.log" 2>/dev/null | sed 's/.*\] [0-9#]*: \*[0-9]* //; s/, client.*//' | sort | uniq -c
for kind in read write; do
  awk -v kind=$kind '$1 == kind { n++; ms = $3 * 1000; sum += ms; if (ms > max) max = ms; if ($2 != 200) bad++ }
    END { printf "%s: %d, mean %.1f ms, slowest %.1f ms, not 200: %d\n", kind, n, sum / n, max, bad }' "$work/probes"
done
