#!/usr/bin/env bash
# Builds the Containerfile without a registry and runs the image test on the
# result: debian:bookworm and debian:bookworm-slim cannot be pulled here, so
# a stand-in for both (mmdebstrap's minbase of bookworm, which has apt) is
# imported under their names into a podman store of the check's own, and the
# build runs with --pull=never. The build stages fetch their packages from
# Debian's archive as they would anywhere.
#
#     containerfile_check.sh   (make containerfile-check)
set -euo pipefail
cd "$(dirname "$0")/../.."

version=$(sed -n 's/^project(Tovrik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d /var/tmp/tovrik-containerfile-XXXXXX)
podman=(podman --root "$work/root" --runroot "$work/run" --storage-driver overlay)
cleanup() {
  "${podman[@]}" rmi --all --force >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "containerfile: a stand-in for debian:bookworm(-slim) from mmdebstrap"
mmdebstrap --quiet --variant=minbase bookworm "$work/base.tar"
"${podman[@]}" import --quiet "$work/base.tar" docker.io/library/debian:bookworm >/dev/null
"${podman[@]}" tag docker.io/library/debian:bookworm docker.io/library/debian:bookworm-slim
rm -f "$work/base.tar"

echo "containerfile: podman build --pull=never"
CONTAINERS_CONF=$PWD/tests/deploy/containers.conf nice -n 10 "${podman[@]}" build --pull=never --network host \
  --build-arg VERSION="$version" -t "localhost/tovrik:$version" -f Containerfile .
"${podman[@]}" tag "localhost/tovrik:$version" "docker.io/library/tovrik:$version"
"${podman[@]}" save --quiet --format docker-archive -o "$work/image.tar" \
  "localhost/tovrik:$version" "docker.io/library/tovrik:$version"
echo "containerfile: image $(stat -c %s "$work/image.tar" | numfmt --to=iec), the image test on it"
python3 tests/deploy/image_test.py --archive "$work/image.tar" --version "$version" \
  --conf tests/deploy/containers.conf
