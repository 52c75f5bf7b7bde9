#!/usr/bin/env bash
# Builds the Debian packages tovrik-cli and tovrik (`make deb`) with
# dpkg-buildpackage from a copy of the working tree (what git tracks and the
# new files it does not ignore), checks them with lintian (an error fails the
# build) and copies them into DIST_DIR.
#
#     deb.sh [BUILD_DIR (build-deb)] [DIST_DIR (dist)]
#
# The version is the top CMakeLists.txt's project version: the changelog,
# where dpkg reads a package's version, is written here from it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-deb}
dist=${2:-dist}
version=$(scripts/project-version.sh)
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "deb: the sources must be a git working tree (their files are taken from git)" >&2
  exit 1
fi

rm -rf "$build"
source_dir="$build/tovrik-$version"
mkdir -p "$source_dir"
git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read --warning=no-failed-read -cf - | tar -xf - -C "$source_dir"

# The changelog's date is the last commit's, so that a build of the same
# commit gives the same packages.
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
date=$(git log -1 --format=%aD)
printf '%s\n' "tovrik ($version) bookworm; urgency=medium" "" "  * Tovrik $version." "" \
  " -- $maintainer  $date" >"$source_dir/debian/changelog"

(cd "$source_dir" && dpkg-buildpackage --build=binary --no-sign -j"${JOBS:-2}")

arch=$(dpkg --print-architecture)
changes="$build/tovrik_${version}_$arch.changes"
echo "deb: lintian $changes"
lintian --fail-on error --display-info "$changes"

mkdir -p "$dist"
rm -f "$dist"/tovrik_*.deb "$dist"/tovrik-cli_*.deb
for package in tovrik-cli tovrik; do
  cp "$build/${package}_${version}_$arch.deb" "$dist/"
  echo "deb: $dist/${package}_${version}_$arch.deb"
done
