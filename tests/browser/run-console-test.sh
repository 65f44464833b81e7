#!/bin/bash
# The unit console in a real browser: Debian's chromium, headless, driven by console_test.mjs
# (puppeteer-core) against a simulated unit behind nginx in a sandbox of its own.
#
#   run-console-test.sh [BUILD_DIR [SCREENSHOT_DIR]]    default: build/, BUILD_DIR/browser-test/
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
shots=${2:-$build/browser-test}

if ! command -v node >/dev/null || [[ ! -x /usr/bin/chromium || ! -d $here/node_modules/puppeteer-core ]]; then
  echo "browser test cannot run: node, chromium or puppeteer-core is missing (tools/install-deps.sh installs them)" >&2
  exit 1
fi

source "$here/../../tools/sandbox/background-unit.sh"
start_background_unit "$build" --http-front --factory-block 10042 handunit --updater
mkdir -p "$shots"
# node and chromium run in the unit's network; the unit's programs are reached through its namespaces.
UNIT_INIT=$unit_init UNIT_STATE=$work/state UNIT_BUILD=$build SCREENSHOTS=$shots BROWSER_HOME=$work \
  inside node "$here/console_test.mjs" || {
  status=$?
  echo "--- end of the unit's kernel log:" >&2
  tail -n 40 "$work/state/kmsg.log" >&2
  exit $status
}
