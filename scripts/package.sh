#!/usr/bin/env bash
# Builds the Debian package skarv_<version>_<arch>.deb with CPack's DEB
# generator and checks it with lintian, which must report no error.
# Usage: scripts/package.sh [BUILD_DIR]
#   BUILD_DIR  an existing plain (not sanitizer) build to package, built
#              further if need be (the test command passes its own);
#              default build-package/, configured here
# The package's path is the last line printed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-}"

"$root/scripts/setup.sh" >&2
if [ -z "$build" ]; then
  build="$root/build-package"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DSKARV_WERROR=ON >&2
fi
cmake --build "$build" -j "$(nproc)" --target skarv-client skarv-record package_files >&2
rm -f "$build"/skarv_*.deb
(cd "$build" && cpack -G DEB >&2)
deb="$(ls "$build"/skarv_*.deb)"
echo "lintian $(basename "$deb"):" >&2
lintian --fail-on error --info --display-level ">=warning" "$deb" >&2
echo "lintian: no error" >&2
echo "$deb"
