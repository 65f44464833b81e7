#!/bin/bash
# The longest turns of the service's loop, by what each served, while a client gives it the work the
# tests give: the whole state, the screenshot, a 9 MB log fetch, uploads (an update and a lens table)
# and a ring written by a 3 s tool, with small requests every 5 ms beside. The service writes a
# DebugLight line for every turn of 1 ms and more (a Warn line past 100 ms); they are read back from the
# sandbox's kmsg.log, with the processor time each took: on a busy machine a turn's length also holds
# time the system gave to other programs. Turns shorter than 1 ms are not listed.
#
#   loop-turns.sh [BUILD_DIR] [ROUNDS]    default: build-rel/ (a Release build), 3 rounds
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(cd "${1:-$repo/build-rel}" && pwd)
rounds=${2:-3}
source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front
state=$work/state
api=http://127.0.0.1:8080

# A kernel log of 9 MB for the log route to convert and send whole.
python3 -c '
import sys
line = "          webservice  LogLight          filler.cpp:   1 \033[32m%07d\033[0m " + "x" * 60 + "\n"
with open(sys.argv[1], "a") as log:
    for i in range(9 * 1024 * 1024 // 100):
        log.write(line % i)
' "$state/kmsg.log"
head -c $((16 * 1048576)) /dev/urandom >"$work/update.swu"
head -c $((256 * 1024)) /dev/urandom >"$work/lens.table"
sleep 2 # the log reader takes the 9 MB in

level() { inside curl -s -o /dev/null -d "{'MemApp':{'AppServiceLogLevel':'$1'}}" "$api/api/v1/set.cgi"; }
level DebugLight
from=$(stat -c %s "$state/kmsg.log")

inside bash -c "while [ ! -e $work/stop ]; do curl -s -o /dev/null -d \"{'MemApp':{'AppServiceLogLevel':'DebugLight'}}\" $api/api/v1/set.cgi; sleep 0.005; done" &
small=$!
echo 3 >"$state/onewire-tool.delay"
for _ in $(seq "$rounds"); do
  inside curl -s -o /dev/null "$api/api/v1/all.cgi"
  inside curl -s -o /dev/null "$api/api/v1/screen.cgi"
  inside curl -s -o /dev/null "$api/api/v1/log.cgi"
  inside curl -s -o /dev/null -F deviceid=x -F "file=@$work/update.swu" "$api/qorapp/v1/device/update"
  inside curl -s -o /dev/null -T "$work/lens.table" "$api/qorapp/v1/lenstables/file/bench.table"
  inside curl -s -o /dev/null -d '{"ringType": "Iris", "irisValue": "2.8"}' "$api/api/v1/premarkeddata.cgi"
done
touch "$work/stop"
wait "$small"
level Warn
sleep 0.5

tail -c +$((from + 1)) "$state/kmsg.log" | python3 -c '
import re, sys
worst, busiest, count = {}, {}, {}
for line in sys.stdin:
    found = re.search(r"Loop turn of (\d+) us, (\d+) us processor: (.*)$", line)
    scale = 1
    if not found:
        found = re.search(r"A turn of the loop took (\d+) ms, (\d+) ms processor: (.*)$", line)
        scale = 1000
    if not found:
        continue
    for route in found.group(3).split(", "):
        worst[route] = max(worst.get(route, 0), int(found.group(1)) * scale)
        busiest[route] = max(busiest.get(route, 0), int(found.group(2)) * scale)
        count[route] = count.get(route, 0) + 1
print("%-44s %6s %11s %15s" % ("served in the turn", "turns", "worst (ms)", "processor (ms)"))
for route in sorted(worst, key=worst.get, reverse=True):
    print("%-44s %6d %11.1f %15.1f" % (route, count[route], worst[route] / 1000, busiest[route] / 1000))
'
