#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each one
# for the given seconds, one after the other, starting from the seed corpus in fuzz/corpus/.
#
#   run-fuzz.sh SECONDS [BUILD_DIR] [TARGET...]     e.g. run-fuzz.sh 30, run-fuzz.sh 3600 build-fuzz json_set_fuzzer
#
# New inputs go to BUILD_DIR/fuzz-corpus/TARGET (the seeds stay as they are); an input that fails is
# kept as BUILD_DIR/fuzz-artifacts/TARGET-crash-... and the script fails. Prints the CPU time each
# target ran. Runs as root: every target hides /dev/kmsg in a mount namespace of its own.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
seconds=${1:?usage: run-fuzz.sh SECONDS [BUILD_DIR] [TARGET...]}
build=${2:-$repo/build-fuzz}
shift 2 || shift $#
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fcgi_stream_fuzzer json_set_fuzzer multipart_fuzzer logconverter_fuzzer hwinfo_fuzzer)

"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DWITH_FUZZERS=ON -DWITH_BENCHMARKS=OFF >/dev/null
ninja -C "$build" -j2 "${targets[@]}"

failed=()
TIMEFORMAT='%U %S'
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  status=0
  cpu=$( { time "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$corpus" "$repo/fuzz/corpus/$target" >"$log" 2>&1; } 2>&1) || status=$?
  cpu=$(awk '{printf "%.1f", $1 + $2}' <<<"$cpu")
  runs=$(grep -oP '^stat::number_of_executed_units:\s*\K\d+' "$log" || echo '?')
  size=$(find "$corpus" -type f | wc -l)
  if [[ $status -eq 0 ]]; then
    printf '%-22s cpu %7s s  runs %10s  work corpus %s files  ok\n' "$target" "$cpu" "$runs" "$size"
  else
    printf '%-22s cpu %7s s  runs %10s  FAILED (exit %s), see %s\n' "$target" "$cpu" \
      "$runs" "$status" "$log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
    failed+=("$target")
  fi
done
[[ ${#failed[@]} -eq 0 ]] || { echo "failed: ${failed[*]}"; exit 1; }
