#!/usr/bin/env bash
# Makes the installable packages into dist/:
#   tremcvt_VERSION_amd64.deb          the Debian package (programs, man pages,
#                                      example tremcvt.ini, schema scripts,
#                                      systemd service template, README)
#   tremcvt-VERSION-windows-x64.zip    the Windows programs, the example INI
#                                      and README-Windows.txt
# and checks both with tests/packaging/check-packages.sh.
#
#   scripts/package.sh                  release builds in build-package/ and
#                                       build-package-windows/
#   BUILD_DIR=build WINDOWS_BUILD_DIR=build-windows scripts/package.sh
#                                       packages of builds that exist already
#   WINDOWS=0 scripts/package.sh        the Debian package only
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"
build="${BUILD_DIR:-}"
win_build="${WINDOWS_BUILD_DIR:-}"
dist="$root/dist"
mkdir -p "$dist"

if [ -z "$build" ]; then
  "$root/scripts/install-deps.sh"
  build="$root/build-package"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTREMCVT_BUILD_TESTS=OFF -DTREMCVT_BUILD_BENCH=OFF \
    >/dev/null
  cmake --build "$build" -j "$jobs"
fi
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$build"/tremcvt_*_amd64.deb | head -n 1)"
cp "$deb" "$dist/"
echo "package: $dist/$(basename "$deb")"

zip=""
if [ "${WINDOWS:-1}" != 0 ]; then
  if [ -z "$win_build" ]; then
    "$root/scripts/install-deps.sh" mingw-w64
    win_build="$root/build-package-windows"
    cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DTREMCVT_BUILD_TESTS=OFF >/dev/null
    cmake --build "$win_build" -j "$jobs"
  fi
  (cd "$win_build" && cpack -G ZIP >/dev/null)
  zip="$(ls -t "$win_build"/tremcvt-*-windows-x64.zip | head -n 1)"
  cp "$zip" "$dist/"
  zip="$dist/$(basename "$zip")"
  echo "package: $zip"
fi

"$root/tests/packaging/check-packages.sh" "$dist/$(basename "$deb")" ${zip:+"$zip"}
