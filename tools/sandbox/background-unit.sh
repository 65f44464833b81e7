# Sourced by the load and soak tools: a simulated unit in a sandbox of its own, in the background.
#
#   start_background_unit BUILD_DIR [--http-front] [START_UNIT_OPTION]...
#
# Starts broker, simulator and service (and nginx on 8080 with --http-front; start-unit.sh gets the
# further options, e.g. --updater) in a private network and waits until the service listens; it logs from
# Warn up, as on a unit in use. Sets `service` (the
# service's host pid) and `work` (a scratch folder of the caller's, holding the sandbox's state too);
# `inside CMD...` runs a command in the unit's network; `rss` (kB) and `fds` read the service's figures.
# When the caller's shell exits, the unit is stopped (the sandbox ends with its main process) and `work`
# is removed.

start_background_unit() {
  local build=$1 repo command="exec start-unit.sh"
  repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
  work=$(mktemp -d)
  trap stop_background_unit EXIT
  shift
  if [[ ${1:-} == --http-front ]]; then
    command="$repo/tools/nginx/start-nginx.sh /tmp/nginx 8080 && $command"
    shift
  fi
  command+=" $*"
  run_unit_sandbox "$build" "$work" "$command" 20
  service=$(pgrep -P "$unit_init" -x webservice) || { echo "no service in the sandbox" >&2; return 1; }
}

# run_unit_sandbox BUILD_DIR FOLDER COMMAND SECONDS: runs COMMAND in a sandbox whose state is FOLDER/state, in
# the background (its pid in `sandbox`), sets `unit_init` and waits up to SECONDS for port 9000.
run_unit_sandbox() {
  local build=$1 folder=$2 command=$3 seconds=$4 repo
  repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
  "$repo/tools/sandbox/unit-sandbox" --build "$build" --status-fd 3 "$folder/state" -- /bin/sh -c "$command" \
    3>"$folder/status.json" >"$folder/console.log" 2>&1 &
  sandbox=$!
  # bubblewrap's status names its init; the service is the init's child that start-unit.sh became.
  for _ in $(seq 100); do
    unit_init=$(python3 -c 'import json, sys; print(json.loads(open(sys.argv[1]).readline())["child-pid"])' \
      "$folder/status.json" 2>/dev/null) && break
    sleep 0.1
  done
  for _ in $(seq $((seconds * 10))); do
    inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/9000' 2>/dev/null && break
    sleep 0.1
  done
}

stop_background_unit() {
  [[ -n ${service:-} ]] && kill -TERM "$service" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}

inside() { nsenter -t "$unit_init" -n -- "$@"; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$service/status"; }
fds() { ls "/proc/$service/fd" | wc -l; }
