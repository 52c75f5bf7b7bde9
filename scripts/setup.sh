#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing, benchmarking
# and rendering the window need. Idempotent: installs only what is missing,
# with one `apt-get update` before the first install.
#
# `setup.sh windows` also installs the Windows cross-build (mingw-w64, wine64,
# zip, nsis for the installer), fetches simdjson's Debian source package
# into $TOVRIK_CACHE (default /var/cache/tovrik as root, else
# ~/.cache/tovrik), adding a deb-src entry for bookworm main when apt has
# none, and builds mbedTLS there from its Debian source package
# (scripts/mbedtls-mingw.sh). `setup.sh deb` also installs
# what builds, checks and test-installs the Debian packages (debhelper,
# lintian, mmdebstrap). `setup.sh image` installs that and what builds and
# runs the OCI image (podman, runc, skopeo, and what rootless podman needs).
# `setup.sh core` installs only what building tovrik-cli needs (the
# Containerfile's build stage).
set -euo pipefail

CORE_PACKAGES=(
  build-essential cmake make pkg-config scdoc
  libsimdjson-dev libcli11-dev libmicrohttpd-dev libpcap-dev libmbedtls-dev
)
PACKAGES=(
  "${CORE_PACKAGES[@]}" git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-apps x11-utils openbox imagemagick fonts-wqy-zenhei
  python3 python3-yaml time bash-completion man-db iproute2
  prometheus tcpdump tshark
  openssl gnutls-bin libssl-dev libgnutls28-dev
)
# Only the report's browser test needs these, but `make test` runs that
# test, so they are installed with the rest (chromium alone takes about
# 350 MB installed).
BROWSER_PACKAGES=(
  chromium
)
WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix wine64 zip dpkg-dev nsis
)
DEB_PACKAGES=(
  dpkg-dev debhelper lintian mmdebstrap
)
# runc, not crun: Debian 12's crun refuses cgroups in hybrid mode.
IMAGE_PACKAGES=(
  "${DEB_PACKAGES[@]}" podman runc skopeo uidmap slirp4netns fuse-overlayfs
)
SIMDJSON_VERSION=3.0.1

PACKAGES+=("${BROWSER_PACKAGES[@]}")

windows=0
case "${1:-}" in
  "") ;;
  core) PACKAGES=("${CORE_PACKAGES[@]}") ;;
  windows)
    windows=1
    PACKAGES+=("${WINDOWS_PACKAGES[@]}")
    ;;
  deb) PACKAGES+=("${DEB_PACKAGES[@]}") ;;
  image) PACKAGES+=("${IMAGE_PACKAGES[@]}") ;;
  *)
    echo "usage: setup.sh [core|windows|deb|image]" >&2
    exit 64
    ;;
esac
if [ "$(id -u)" -eq 0 ]; then
  cache=${TOVRIK_CACHE:-/var/cache/tovrik}
else
  cache=${TOVRIK_CACHE:-$HOME/.cache/tovrik}
fi
simdjson_dir="$cache/simdjson-$SIMDJSON_VERSION"
mbedtls_mingw="$(dirname "${BASH_SOURCE[0]}")/mbedtls-mingw.sh"

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

need_source=0
if [ $windows -eq 1 ]; then
  mbedtls_dir=$(bash "$mbedtls_mingw" --prefix "$cache" 2>/dev/null || true)
  if [ ! -f "$simdjson_dir/singleheader/simdjson.cpp" ] || [ ! -f "$mbedtls_dir/lib/libmbedtls.a" ]; then
    need_source=1
  fi
fi

if [ ${#missing[@]} -eq 0 ] && [ $need_source -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

if [ $need_source -eq 1 ] &&
  ! grep -rqsE '^[[:space:]]*(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "setup: adding a deb-src entry for bookworm main"
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' 'Components: main' \
    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
    $SUDO tee /etc/apt/sources.list.d/tovrik-src.sources >/dev/null
fi

$SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ $windows -eq 1 ] && [ ! -f "$simdjson_dir/singleheader/simdjson.cpp" ]; then
  echo "setup: fetching simdjson's source package into $cache"
  mkdir -p "$cache"
  (cd "$cache" && apt-get source -qq "simdjson=$SIMDJSON_VERSION-1" >/dev/null)
  test -f "$simdjson_dir/singleheader/simdjson.cpp"
fi
if [ $windows -eq 1 ]; then
  bash "$mbedtls_mingw" "$cache"
fi
