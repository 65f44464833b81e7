#!/bin/bash
# Every route's live answers against the API document, through the HTTP front of a simulated unit.
#
#   run-api-test.sh [BUILD_DIR]    default: build/
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)

if ! command -v node >/dev/null || [[ ! -d $here/node_modules/ajv ]]; then
  echo "API test cannot run: node or the npm packages are missing (tools/install-deps.sh installs them)" >&2
  exit 1
fi

source "$here/../../tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front --factory-block 10042 handunit --updater
UNIT_INIT=$unit_init UNIT_STATE=$work/state UNIT_BUILD=$build inside node "$here/api_test.mjs" || {
  status=$?
  echo "--- end of the unit's kernel log:" >&2
  tail -n 40 "$work/state/kmsg.log" >&2
  exit $status
}
