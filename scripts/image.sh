#!/usr/bin/env bash
# Builds the OCI image tovrik:<version> without a registry (`make image`):
# tovrik-cli in Release without the window, a root file system of Debian
# packages extracted by mmdebstrap (the libraries the binary loads, from
# runtime-packages.sh, and nothing else: no shell, no package manager), the
# binary in /usr/local/bin, imported into podman with tovrik-cli as the
# entrypoint, and saved as DIST/tovrik-<version>-image.tar (a docker archive,
# which both `podman load` and `docker load` read).
#
#     image.sh [BUILD_DIR (build-image)] [DIST_DIR (dist)]
#
# The version is the top CMakeLists.txt's project version.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-image}
dist=${2:-dist}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_GUI=OFF \
  -DTOVRIK_BUILD_TESTS=OFF -DTOVRIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target tovrik-cli -j "$(nproc)"
binary=$(realpath "$build/src/cli/tovrik-cli")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ -z "$version" ]; then
  echo "image: no project version in $build/CMakeCache.txt" >&2
  exit 1
fi

packages=$(scripts/runtime-packages.sh "$binary" | paste -sd, -)
rootfs="$build/image-rootfs.tar"
echo "image: root file system from bookworm: $packages"
# With --variant=extract only extract hooks run (a customize hook would be
# ignored); the binary goes in there.
mmdebstrap --quiet --variant=extract --include="$packages" \
  --extract-hook="install -D -m 0755 '$binary' \"\$1/usr/local/bin/tovrik-cli\"" \
  bookworm "$rootfs"

name="localhost/tovrik:$version"
# Docker and containerd spell the short name tovrik:<version> this way: a
# Kubernetes pod's `image: tovrik:<version>` finds the archive's image by it.
docker_name="docker.io/library/tovrik:$version"
previous=$(podman image inspect --format '{{.Id}}' "$name" 2>/dev/null || true)
podman import --quiet \
  --change 'ENTRYPOINT ["tovrik-cli"]' \
  --change 'USER 65534:65534' \
  --change 'LABEL org.opencontainers.image.title=tovrik' \
  --change "LABEL org.opencontainers.image.version=$version" \
  --change 'LABEL org.opencontainers.image.description="Simulated field devices sending JSON over UDP (tovrik-cli)"' \
  "$rootfs" "$name" >/dev/null
podman tag "$name" "$docker_name"
current=$(podman image inspect --format '{{.Id}}' "$name")
if [ -n "$previous" ] && [ "$previous" != "$current" ]; then
  # The image this one replaces, unless a container still uses it.
  podman rmi "$previous" >/dev/null 2>&1 || true
fi
rm -f "$rootfs"

mkdir -p "$dist"
archive="$dist/tovrik-$version-image.tar"
rm -f "$archive"
podman save --quiet --format docker-archive -o "$archive" "$name" "$docker_name"
echo "image: $name ($(podman image inspect --format '{{.Size}}' "$name" | numfmt --to=iec) unpacked)," \
  "saved to $archive ($(stat -c %s "$archive" | numfmt --to=iec))"
