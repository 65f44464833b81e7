#!/bin/bash
# Installs the Debian 12 packages needed to build, run and test the service, when any is missing.
#
#   install-deps.sh [--update]    --update: always refresh the package lists first
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libpng-dev libdeflate-dev
  bubblewrap nginx-light python3 clang-format
  apache2-utils libfcgi-dev wrk curl lighttpd
  iproute2 util-linux procps
  clang-14 libclang-rt-14-dev
  chromium nodejs
  debhelper lintian
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$package")
done
# Some machines bring a nodejs package that holds npm itself; Debian's has it apart.
command -v npm >/dev/null || missing+=(npm)

if [[ ${1:-} == --update || ${#missing[@]} -gt 0 ]]; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  if [[ ${#missing[@]} -gt 0 ]]; then
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# The browser test's npm packages (puppeteer-core, which drives Debian's chromium and downloads no
# browser), as the committed lockfile pins them; again only when the lockfile has changed.
browser_test=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../tests/browser" && pwd)
if ! cmp -s "$browser_test/package-lock.json" "$browser_test/node_modules/.installed-lock.json"; then
  npm ci --prefix "$browser_test" --no-audit --no-fund
  cp "$browser_test/package-lock.json" "$browser_test/node_modules/.installed-lock.json"
fi

# The API document's checks: the OpenAPI 3.1 validator and the JSON Schema validator, as locked.
api_test=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../tests/api" && pwd)
if ! cmp -s "$api_test/package-lock.json" "$api_test/node_modules/.installed-lock.json"; then
  npm ci --prefix "$api_test" --no-audit --no-fund
  cp "$api_test/package-lock.json" "$api_test/node_modules/.installed-lock.json"
fi
