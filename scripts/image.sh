#!/usr/bin/env bash
# Builds the OCI image tovrik:<version> without a registry (`make image`,
# after `make deb`): a root file system of Debian packages extracted by
# mmdebstrap, namely the tovrik-cli package that `make deb` wrote into
# DIST_DIR and the packages of the libraries its binary loads (from
# runtime-packages.sh), and nothing else: no window, no shell, no package
# manager. It is imported into podman with tovrik-cli as the entrypoint and
# saved as DIST_DIR/tovrik-<version>-image.tar (a docker archive, which both
# `podman load` and `docker load` read).
#
#     image.sh [DIST_DIR (dist)]
#
# The version is the top CMakeLists.txt's project version.
set -euo pipefail
cd "$(dirname "$0")/.."

dist=${1:-dist}
version=$(scripts/project-version.sh)
deb=$dist/tovrik-cli_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
  echo "image: no $deb: run make deb first" >&2
  exit 1
fi
deb=$(realpath "$deb")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb --extract "$deb" "$work/package"

packages=$(scripts/runtime-packages.sh "$work/package/usr/bin/tovrik-cli" | paste -sd, -)
rootfs="$work/image-rootfs.tar"
echo "image: root file system from bookworm: $(basename "$deb"), $packages"
# The extract variant extracts what --include names from the archive; the
# local package is extracted the same way, by its hook.
mmdebstrap --quiet --variant=extract --include="$packages" \
  --extract-hook="dpkg-deb --extract '$deb' \"\$1\"" bookworm "$rootfs"

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

mkdir -p "$dist"
archive="$dist/tovrik-$version-image.tar"
rm -f "$archive"
podman save --quiet --format docker-archive -o "$archive" "$name" "$docker_name"
echo "image: $name ($(podman image inspect --format '{{.Size}}' "$name" | numfmt --to=iec) unpacked)," \
  "saved to $archive ($(stat -c %s "$archive" | numfmt --to=iec))"
