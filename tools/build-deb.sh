#!/bin/bash
# Builds the service's Debian package for the unit (armhf, from the cross-build) or for this machine:
#
#   build-deb.sh [amd64|armhf]      default amd64; the package lands in build-deb-ARCH/
#
# Release build with Debian's hardening flags, installed with the prefix /usr and packaged by debhelper
# from tools/debian: the binary, its systemd unit (enabled and started on installation), the folder list
# for systemd-tmpfiles, the nginx site and its parameters, the console and, when the build makes it, the
# API document. Runtime dependencies come from the binary's libraries; nginx is recommended.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
arch=${1:-amd64}
out=$repo/build-deb-$arch
cross=()
case $arch in
  amd64) ;;
  armhf) cross=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-armhf.cmake") ;;
  *) echo "usage: build-deb.sh [amd64|armhf]" >&2; exit 2 ;;
esac

"$repo/tools/install-deps.sh"
# The cross toolchain and the target's libraries, as the armhf test run installs them.
[[ $arch == amd64 ]] || "$repo/tools/run-armhf-tests.sh" --install-only

# Debian's flags for the target: optimisation, debug symbols, and the hardening lintian looks for.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_HOST_ARCH=$arch
cppflags=$(dpkg-buildflags --get CPPFLAGS)
# Debian 12's debhelper enables and starts units it finds in /lib/systemd/system (one folder with
# /usr/lib/systemd/system on a merged /usr).
cmake -S "$repo" -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DWEBSERVICE_SYSTEMD_UNIT_DIR=/lib/systemd/system -DWITH_BENCHMARKS=OFF "${cross[@]}" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
# The service's target brings the API document that is installed beside it.
ninja -C "$out/cmake" -j2 webservice

# debhelper works in a source tree of its own: the packaging files, nothing else.
rm -rf "$out/package" "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
mkdir -p "$out/package"
cp -r "$repo/tools/debian" "$out/package/debian"
(cd "$out/package" && WEBSERVICE_BUILD="$out/cmake" dpkg-buildpackage -b -uc -us -d -a"$arch")
ls "$out"/*.deb
