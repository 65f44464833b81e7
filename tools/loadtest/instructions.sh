#!/bin/bash
# Instructions the service spends per answer, counted by callgrind: the service runs under
# valgrind --tool=callgrind in a unit sandbox at diagnostic level Error and answers N requests on one
# keep-alive connection; the difference between two runs with different N, divided by the difference
# of N, leaves out start-up and shutdown.
#
#   instructions.sh [BUILD_DIR]     default: build/ (a Release build gives the figures to report)
#
# Prints instructions per whole-state document (/api/v1/all.cgi, N = 5 and 15) and per small request
# (an unknown script's answer, N = 500 and 1500: the loop's idle passes under valgrind would blur a
# difference of only ten small requests).
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
source "$repo/tools/sandbox/background-unit.sh"
work=$(mktemp -d)
sandbox=
trap 'stop_unit; rm -rf "$work"' EXIT

stop_unit() {
  [[ -n $sandbox ]] || return 0
  local child
  child=$(pgrep -P "$unit_init" || true)
  [[ -n $child ]] && kill -TERM "$child" 2>/dev/null
  wait "$sandbox" 2>/dev/null || true
  sandbox=
}

# Total instructions of one service run that answers REQUESTS requests of SCRIPT.
count() {
  local script=$1 requests=$2 folder
  folder=$work/run${script//\//_}-$requests
  mkdir -p "$folder"
  run_unit_sandbox "$build" "$folder" \
    "exec start-unit.sh --log-level Error -- valgrind --tool=callgrind --callgrind-out-file=/run/unit-sandbox/callgrind.out webservice" 60
  inside "$build/bin/handler-bench" repeat 9000 "$requests" "$script"
  stop_unit
  awk '/^(summary|totals):/ {print $2; exit}' "$folder/state/callgrind.out"
}

per_request() {
  local script=$1 low=$2 high=$3 a b
  a=$(count "$script" "$low")
  b=$(count "$script" "$high")
  echo $(((b - a) / (high - low)))
}

echo "instructions per whole-state document: $(per_request /api/v1/all.cgi 5 15)"
echo "instructions per small request:        $(per_request /api/v1/none.cgi 500 1500)"
