#!/bin/bash
# Cross-builds the service and its tests for the unit (32-bit ARM, armhf) and runs the suite under qemu.
# Installs what is missing: Debian's cross compiler, the target's libraries (multiarch armhf) and the
# user-mode emulator, registered with the kernel so that programs the tests start run as well.
#
#   run-armhf-tests.sh [BUILD_DIR [CMAKE_OPTION]...]      default BUILD_DIR: build-armhf
#   run-armhf-tests.sh --install-only                     only what the cross-build needs (build-deb.sh armhf)
#
# Runs as root, like run-tests.sh.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
install_only=0
[[ ${1:-} != --install-only ]] || { install_only=1; shift; }
build=${1:-$repo/build-armhf}
shift || true

"$repo/tools/install-deps.sh"

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

# The emulator's package registers itself only where binfmt_misc is mounted.
binfmt=/proc/sys/fs/binfmt_misc
[[ -e $binfmt/register ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true

packages=(crossbuild-essential-armhf qemu-user-static binfmt-support libpng-dev:armhf libdeflate-dev:armhf libstdc++6:armhf)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  dpkg --print-foreign-architectures | grep -qx armhf || "${sudo[@]}" dpkg --add-architecture armhf
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [[ -e $binfmt/register && ! -e $binfmt/qemu-arm ]]; then
  "${sudo[@]}" update-binfmts --enable qemu-arm || true
fi
((!install_only)) || exit 0

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-armhf.cmake" -DWITH_BENCHMARKS=OFF "$@"
ninja -C "$build" -j2
file "$build/bin/webservice"

# ctest starts every test program through qemu itself. The integration tests' programs start the
# service, the broker stand-in and the simulator in sandboxes, which only the kernel's registration
# of the emulator can run.
# The hostile-load test counts what the service gets through in a fixed window: under the emulator that
# counts the emulator's speed, so it runs in the native suites only.
ctest_options=(--output-on-failure -j2 -E '^HostileLoad[.]')
if [[ ! -e $binfmt/qemu-arm ]] || ! grep -qx enabled "$binfmt/qemu-arm"; then
  echo "run-armhf-tests.sh: qemu-arm is not registered with binfmt_misc here; integration tests left out" >&2
  ctest_options+=(-LE integration)
fi
cd "$build"
ctest "${ctest_options[@]}"
