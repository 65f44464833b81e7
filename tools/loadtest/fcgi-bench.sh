#!/bin/bash
# The shipped webservice behind nginx, against a libfcgi responder giving the same small answer: with
# and without FastCGI keep-alive connections, at concurrency 1 and 16; and behind lighttpd, a second
# front that opens a connection per request. Every request is a write that
# stores an unchanged value, answered with {"result": 1 }. The service runs in a unit sandbox of its own;
# nginx, the peer and wrk join its private network, so all traffic stays on that loopback.
#   tools/loadtest/fcgi-bench.sh [build-folder]     (BENCH_SECONDS per cell, default 5)
# BENCH_ROUNDS (default 3): each cell runs that many times, the service and the peer taking turns, and
# the round with the median rate is shown; on a small shared machine single runs swing by half.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=$(realpath "${1:-build}")
seconds=${BENCH_SECONDS:-5}
rounds=${BENCH_ROUNDS:-3}
peer_bin=$build/bin/fcgi-peer-responder
for tool in "$build/bin/webservice" "$peer_bin"; do
  [[ -x $tool ]] || { echo "missing $tool (build webservice and fcgi-peer-responder)" >&2; exit 1; }
done
for tool in nginx lighttpd wrk; do
  command -v $tool >/dev/null || { echo "$tool is not installed (tools/install-deps.sh)" >&2; exit 1; }
done

source "$repo/tools/sandbox/background-unit.sh"
start_background_unit "$build"
in_unit=(nsenter -t "$unit_init" -n --)  # as `inside`, for commands run in the background or under timeout

# The service listens on 9000; each front of the peer has a responder of its own: a libfcgi responder
# that holds a kept connection serves no other, which would stall the next cell.
peer_port=9001
peer_keep_port=9002
front_ours=8010
front_ours_keep=8011
front_peer=8012
front_peer_keep=8013
lighttpd_ours=8020
lighttpd_peer=8022

pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  stop_background_unit
}
trap stop_all EXIT

front() {  # listen-port upstream keep(on|off)
  cat <<EOF
  server {
    listen 127.0.0.1:$1;
    location / {
      fastcgi_pass $2;
      fastcgi_keep_conn $3;
      fastcgi_param SCRIPT_NAME \$uri;
      fastcgi_param REQUEST_METHOD \$request_method;
      fastcgi_param CONTENT_LENGTH \$content_length;
      fastcgi_param SERVER_PROTOCOL \$server_protocol;
      fastcgi_param REMOTE_ADDR \$remote_addr;
    }
  }
EOF
}

# The service's kept connections are bounded as in tools/nginx/webservice-site.conf.
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
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
  upstream ours { server 127.0.0.1:9000 max_conns=30; keepalive 30; keepalive_requests 1000000; }
  upstream peer { server 127.0.0.1:$peer_keep_port; keepalive 16; }
$(front $front_ours 127.0.0.1:9000 off)
$(front $front_ours_keep ours on)
$(front $front_peer 127.0.0.1:$peer_port off)
$(front $front_peer_keep peer on)
}
EOF

mkdir -p "$work/lighttpd"
lighttpd_front() {  # listen-port fastcgi-port
  cat <<EOF
server.document-root = "$work/lighttpd"
server.bind = "127.0.0.1"
server.port = $1
server.modules = ("mod_fastcgi")
server.errorlog = "$work/lighttpd/error-$1.log"
fastcgi.server = ("/" => (("host" => "127.0.0.1", "port" => $2, "check-local" => "disable")))
EOF
}
lighttpd_front $lighttpd_ours 9000 >"$work/lighttpd/ours.conf"
lighttpd_front $lighttpd_peer $peer_port >"$work/lighttpd/peer.conf"

declare -A responder  # front port -> pid of the FastCGI server behind it
responder[$front_ours]=$service
responder[$front_ours_keep]=$service
responder[$lighttpd_ours]=$service
"${in_unit[@]}" "$peer_bin" "$peer_port" & pids+=($!); responder[$front_peer]=$!; responder[$lighttpd_peer]=$!
"${in_unit[@]}" "$peer_bin" "$peer_keep_port" & pids+=($!); responder[$front_peer_keep]=$!
"${in_unit[@]}" nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' & pids+=($!)
for side in ours peer; do
  "${in_unit[@]}" lighttpd -D -f "$work/lighttpd/$side.conf" & pids+=($!)
done

body="{'MemPersistent':{'AUXTorque':3}}"
cat >"$work/post.lua" <<EOF
wrk.method = "POST"
wrk.body = "$body"
wrk.headers["Content-Type"] = "application/json"
EOF
for port in $front_ours $front_ours_keep $front_peer $front_peer_keep $lighttpd_ours $lighttpd_peer; do
  for _ in $(seq 50); do
    inside curl -fs -o /dev/null --data "$body" "http://127.0.0.1:$port/api/v1/set.cgi" && break
    sleep 0.1
  done
done

# CPU time of a process in clock ticks, user and system.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ticks_per_second=$(getconf CLK_TCK)

# One cell: requests, answers other than 200 (with connections wrk lost), mean and median latency,
# and the FastCGI server's CPU time per request, which a machine busy with other work disturbs least.
cell() {  # port connections
  local out before requests failed mean median cpu
  before=$(cpu_ticks "${responder[$1]}")
  out=$(timeout $((seconds + 20)) "${in_unit[@]}" wrk -t1 -c"$2" -d"${seconds}s" --timeout 2s --latency -s "$work/post.lua" \
    "http://127.0.0.1:$1/api/v1/set.cgi" 2>&1 || true)
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  cpu=$(awk -v t="$(($(cpu_ticks "${responder[$1]}") - before))" -v n="${requests:-0}" -v hz="$ticks_per_second" \
    'BEGIN { if (n > 0) printf "%.0fus", t * 1e6 / hz / n; else print "-" }')
  failed=$(awk '/Socket errors:/ {gsub(",", ""); n += $4 + $6 + $8 + $10} /Non-2xx/ {n += $NF} END {print n + 0}' <<<"$out")
  mean=$(awk '$1 == "Latency" && NF > 4 {print $2}' <<<"$out")
  median=$(awk '$1 == "50%" {print $2}' <<<"$out")
  printf '%8s %7s %9s %9s %7s' "${requests:--}" "$failed" "${mean:--}" "${median:--}" "$cpu"
}

# Of several runs of one cell, the one whose request count is the median.
median_run() {
  printf '%s\n' "$@" | sort -b -n -k1,1 | sed -n "$((($# + 1) / 2))p"
}

printf '%-16s %4s | %-43s | %-43s\n' "" "" "webservice" "libfcgi peer"
printf '%-16s %4s | %8s %7s %9s %9s %7s | %8s %7s %9s %9s %7s\n' "case" "conc" \
  requests non-200 mean median cpu/req requests non-200 mean median cpu/req
for row in "keep-conn off:1:$front_ours:$front_peer" "keep-conn off:16:$front_ours:$front_peer" \
  "keep-conn on:1:$front_ours_keep:$front_peer_keep" "keep-conn on:16:$front_ours_keep:$front_peer_keep" \
  "lighttpd:1:$lighttpd_ours:$lighttpd_peer" "lighttpd:16:$lighttpd_ours:$lighttpd_peer"; do
  IFS=: read -r name conc ours peer <<<"$row"
  ours_runs=() peer_runs=()
  for _ in $(seq "$rounds"); do
    ours_runs+=("$(cell "$ours" "$conc")")
    peer_runs+=("$(cell "$peer" "$conc")")
  done
  printf '%-16s %4s | %s | %s\n' "$name" "$conc" "$(median_run "${ours_runs[@]}")" "$(median_run "${peer_runs[@]}")"
done
echo "${seconds} s per cell, median of $rounds rounds; non-200 counts the front's other answers and lost connections"
