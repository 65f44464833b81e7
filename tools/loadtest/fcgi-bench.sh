#!/bin/bash
# Requests per second and median latency of our FastCGI server behind nginx, against a libfcgi
# responder doing the same work: a small fixed answer at concurrency 1 and 16, with and without
# FastCGI keep-alive connections, and a 1 MiB answer. Loopback only; every run is bounded in time.
#   tools/loadtest/fcgi-bench.sh [build-folder]     (BENCH_SECONDS per cell, default 5)
# BENCH_ROUNDS (default 3): each cell runs that many times, ours and the peer taking turns, and the
# round with the median rate is shown; on a small shared machine single runs swing by half.
set -euo pipefail

build=$(realpath "${1:-build}")
seconds=${BENCH_SECONDS:-5}
rounds=${BENCH_ROUNDS:-3}
ours_bin=$build/bin/fcgi-bench-responder
peer_bin=$build/bin/fcgi-peer-responder
for tool in "$ours_bin" "$peer_bin"; do
  [[ -x $tool ]] || { echo "missing $tool (build the loadtest targets)" >&2; exit 1; }
done
command -v nginx >/dev/null || { echo "nginx is not installed" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed" >&2; exit 1; }

# Ports on loopback; BENCH_PORT_BASE moves them all. Each front has a responder of its own: a
# libfcgi responder that holds a kept connection serves no other, which would stall the next cell.
base=${BENCH_PORT_BASE:-19400}
ours_port=$((base + 0))
peer_port=$((base + 1))
ours_keep_port=$((base + 2))
peer_keep_port=$((base + 3))
front_ours=$((base + 10))
front_ours_keep=$((base + 11))
front_peer=$((base + 12))
front_peer_keep=$((base + 13))

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

front() {  # listen-port upstream keep(on|off)
  cat <<EOF
  server {
    listen 127.0.0.1:$1;
    location / {
      fastcgi_pass $2;
      fastcgi_keep_conn $3;
      fastcgi_param SCRIPT_NAME \$uri;
      fastcgi_param REQUEST_METHOD \$request_method;
      fastcgi_param QUERY_STRING \$query_string;
      fastcgi_param SERVER_PROTOCOL \$server_protocol;
      fastcgi_param REMOTE_ADDR \$remote_addr;
      fastcgi_buffers 32 64k;
    }
  }
EOF
}

cat >"$work/nginx.conf" <<EOF
user root;
worker_processes 1;
pid nginx.pid;
error_log error.log error;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path client_body_temp;
  fastcgi_temp_path fastcgi_temp;
  proxy_temp_path proxy_temp;
  uwsgi_temp_path uwsgi_temp;
  scgi_temp_path scgi_temp;
  upstream ours { server 127.0.0.1:$ours_keep_port; keepalive 16; }
  upstream peer { server 127.0.0.1:$peer_keep_port; keepalive 16; }
$(front $front_ours 127.0.0.1:$ours_port off)
$(front $front_ours_keep ours on)
$(front $front_peer 127.0.0.1:$peer_port off)
$(front $front_peer_keep peer on)
}
EOF

declare -A responder  # front port -> pid of the responder behind it
"$ours_bin" "$ours_port" & pids+=($!); responder[$front_ours]=$!
"$ours_bin" "$ours_keep_port" & pids+=($!); responder[$front_ours_keep]=$!
"$peer_bin" "$peer_port" & pids+=($!); responder[$front_peer]=$!
"$peer_bin" "$peer_keep_port" & pids+=($!); responder[$front_peer_keep]=$!
nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' & pids+=($!)

for port in $front_ours $front_ours_keep $front_peer $front_peer_keep; do
  for _ in $(seq 50); do
    curl -fs -o /dev/null "http://127.0.0.1:$port/small" && break
    sleep 0.1
  done
done

# CPU time of a process in clock ticks, user and system.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ticks_per_second=$(getconf CLK_TCK)

# One cell: prints requests/s, median latency, the failures wrk saw and the responder's CPU time
# per request, which a machine busy with other work disturbs least.
cell() {  # port connections path
  local out before
  before=$(cpu_ticks "${responder[$1]}")
  out=$(timeout $((seconds + 20)) wrk -t1 -c"$2" -d"${seconds}s" --timeout 2s --latency "http://127.0.0.1:$1$3" 2>&1 || true)
  local rps median errors requests cpu
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  cpu=$(awk -v t="$(($(cpu_ticks "${responder[$1]}") - before))" -v n="${requests:-0}" -v hz="$ticks_per_second" \
    'BEGIN { if (n > 0) printf "%.0fus", t * 1e6 / hz / n; else print "-" }')
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  median=$(awk '$1 == "50%" {print $2}' <<<"$out")
  errors=$(awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8 + $10} /Non-2xx/ {print $NF}' <<<"$out" |
    paste -sd+ | bc 2>/dev/null || true)
  printf '%12s %10s %6s %9s' "${rps:--}" "${median:--}" "${errors:-0}" "$cpu"
}

# Of several runs of one cell, the one whose rate is the median.
median_run() {
  printf '%s\n' "$@" | sort -b -n -k1,1 | sed -n "$((($# + 1) / 2))p"
}

printf '%-20s %4s | %12s %10s %6s %9s | %12s %10s %6s %9s\n' "case" "conc" "ours req/s" "median" "errors" \
  "cpu/req" "libfcgi req/s" "median" "errors" "cpu/req"
for row in "small, no keep-conn:1:$front_ours:$front_peer:/small" \
  "small, no keep-conn:16:$front_ours:$front_peer:/small" \
  "small, keep-conn:1:$front_ours_keep:$front_peer_keep:/small" \
  "small, keep-conn:16:$front_ours_keep:$front_peer_keep:/small" \
  "1 MiB, no keep-conn:1:$front_ours:$front_peer:/big" \
  "1 MiB, keep-conn:1:$front_ours_keep:$front_peer_keep:/big"; do
  IFS=: read -r name conc ours peer path <<<"$row"
  ours_runs=() peer_runs=()
  for _ in $(seq "$rounds"); do
    ours_runs+=("$(cell "$ours" "$conc" "$path")")
    peer_runs+=("$(cell "$peer" "$conc" "$path")")
  done
  printf '%-20s %4s | %s | %s\n' "$name" "$conc" "$(median_run "${ours_runs[@]}")" "$(median_run "${peer_runs[@]}")"
done
