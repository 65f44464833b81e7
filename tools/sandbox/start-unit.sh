#!/bin/bash
# Runs inside the unit sandbox: brings up what the unit's other processes provide, in the order the
# service needs it (broker, then segments), then runs the service (or COMMAND) in the foreground, with the
# capabilities of the service's unit file.
#
#   start-unit.sh [--no-broker] [--broker-trace] [--create-option OPT]... [--factory-block S B]
#                 [--damage-factory-byte N] [--updater] [--demo]
#                 [--log-level LEVEL] [-- COMMAND [ARG]...]
#
#   --no-broker          start no broker (the service must then give up waiting for it)
#   --broker-trace       the broker logs every record it receives
#   --create-option OPT  hand OPT to "unit-simulator create", e.g. --create-option --skip --create-option MemLens
#   --factory-block S B  the hardware block's serial S and board B (default 10042 and handunit)
#   --damage-factory-byte N  then change byte N of that block, as a failing eMMC would (its 348 bytes are kept
#                        as factory-block.damaged in the state folder)
#   --updater            run the simulated update machinery beside the service (log: updater.log)
#   --demo               move motors, focus distance and battery a few times a second (log: demo.log)
#   --log-level LEVEL    the service's diagnostic threshold at start (default: the simulator's quiet
#                        default, Warn)
# The broker's standard error goes to broker.log, its pid to broker.pid in the sandbox's state folder.
# COMMAND defaults to webservice.
set -euo pipefail

state=${UNIT_SANDBOX_STATE:-/tmp}
broker=1
broker_options=()
create_options=()
factory_block=(10042 handunit)
damage=
updater=0
demo=0
log_level=

usage() {
  sed -n '2,21p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [[ $# -gt 0 ]]; do
  case $1 in
    --no-broker) broker=0; shift ;;
    --broker-trace) broker_options+=(--trace); shift ;;
    --create-option) [[ $# -ge 2 ]] || usage; create_options+=("$2"); shift 2 ;;
    --factory-block) [[ $# -ge 3 ]] || usage; factory_block=("$2" "$3"); shift 3 ;;
    --damage-factory-byte) [[ $# -ge 2 ]] || usage; damage=$2; shift 2 ;;
    --updater) updater=1; shift ;;
    --demo) demo=1; shift ;;
    --log-level) [[ $# -ge 2 ]] || usage; log_level=$2; shift 2 ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[[ $# -gt 0 ]] || set -- webservice

if ((broker)); then
  message-broker "${broker_options[@]}" 2>>"$state/broker.log" &
  echo $! >"$state/broker.pid"
  # The broker creates its semaphore only once it listens; the service tries to open it without pausing.
  for ((i = 0; i < 500; i++)); do
    [[ -e /dev/shm/sem.message-broker-ready ]] && break
    kill -0 $! 2>/dev/null || { echo "start-unit: message-broker ended at start" >&2; exit 1; }
    sleep 0.01
  done
  [[ -e /dev/shm/sem.message-broker-ready ]] || { echo "start-unit: message-broker not ready" >&2; exit 1; }
fi

[[ -z $log_level ]] || create_options+=(--log-level "$log_level")
unit-simulator create "${create_options[@]}"
# The display: a two-page test pattern, unless the state folder already holds a frame-buffer image. It is
# drawn through the state folder, since the service's /dev/fb0 is read-only.
[[ -s /dev/fb0 ]] || unit-simulator framebuffer "$state/fb0"

# The service reads the unit's identity from the hardware block once, at start.
unit-simulator hwinfo "${factory_block[@]}"
if [[ -n $damage ]]; then
  at=$((0x100000 + damage))
  byte=$(od -An -tu1 -j "$at" -N1 /dev/mmcblk1)
  printf "\\$(printf %03o $(((byte ^ 1) & 255)))" | dd of=/dev/mmcblk1 bs=1 seek="$at" conv=notrunc status=none
  dd if=/dev/mmcblk1 of="$state/factory-block.damaged" bs=1 skip=$((0x100000)) count=348 status=none
fi
# The unit's update machinery reacts to the update variables of uploads.
if ((updater)); then
  unit-simulator updater 2>>"$state/updater.log" &
fi
if ((demo)); then
  unit-simulator demo 2>>"$state/demo.log" &
fi

# The service keeps only the capabilities its unit file leaves it, and can gain none.
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
keep=$(sed -n 's/^capability[[:space:]]*CAP_\([A-Z_0-9]*\).*/+\L\1/p' "$here/../install/confinement.list" | paste -sd,)
exec setpriv --no-new-privs --inh-caps=-all --bounding-set="-all,$keep" -- "$@"
