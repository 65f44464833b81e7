#!/bin/bash
# Runs every unit test program of BUILD_DIR once, whole, under valgrind's memcheck (children of a fork
# included) and reports each program's result. Fails on any memory error or definite/indirect leak.
#
#   run-valgrind.sh [BUILD_DIR] [PROGRAM_NAME...]     default build/, every program without the integration label
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
shift || true
logs=$build/valgrind-logs
mkdir -p "$logs"

mapfile -t programs < <(ctest --test-dir "$build" -LE integration --show-only=json-v1 | python3 -c '
import json, os, sys
build, wanted = sys.argv[1], set(sys.argv[2:])
seen = []
for test in json.load(sys.stdin)["tests"]:
    program = test["command"][0]
    # Checks run by an interpreter are not the service'"'"'s code.
    if not program.startswith(build + "/"):
        continue
    if program not in seen and (not wanted or os.path.basename(program) in wanted):
        seen.append(program)
print("\n".join(seen))' "$build" "$@")

# Tests that lower the descriptor or address-space limit cannot run here: valgrind keeps descriptors of its
# own at the top of the range and maps its own memory.
declare -A skipped=([fcgi_test]='-FcgiDescriptors.*:FcgiHostile.InputLargerThanMemory*')

failed=()
for program in "${programs[@]}"; do
  name=$(basename "$program")
  status=0
  valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect --num-callers=30 "$program" --gtest_brief=1 \
    --gtest_filter="${skipped[$name]:-*}" >"$logs/$name.log" 2>&1 || status=$?
  summary=$(grep -m1 -oE 'ERROR SUMMARY: [0-9]+ errors' "$logs/$name.log" || echo 'no summary')
  if [[ $status -eq 0 ]]; then
    printf '%-28s ok (%s)\n' "$name" "$summary"
  else
    printf '%-28s FAILED (exit %s, %s), see %s\n' "$name" "$status" "$summary" "$logs/$name.log"
    failed+=("$name")
  fi
done
[[ ${#failed[@]} -eq 0 ]] || { echo "failed: ${failed[*]}"; exit 1; }
