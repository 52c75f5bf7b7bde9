#!/usr/bin/env bash
# Builds mbedTLS for the Windows cross-build from Debian's mbedtls source
# package (`apt-get source`, Debian's patches applied): static libmbedcrypto,
# libmbedx509 and libmbedtls with their headers in
# CACHE_DIR/mbedtls-<version>-mingw64. Does nothing when that already has
# lib/libmbedtls.a.
# Usage: scripts/mbedtls-mingw.sh CACHE_DIR
#        scripts/mbedtls-mingw.sh --prefix CACHE_DIR   (prints that directory)
#
# <version> is the installed libmbedtls-dev's when apt can fetch its source,
# else the newest source apt knows: Debian's mirrors keep one version a
# suite, so an older installed one may no longer be there.
set -euo pipefail

print_prefix=0
if [ "${1:-}" = "--prefix" ]; then
  print_prefix=1
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: mbedtls-mingw.sh [--prefix] CACHE_DIR" >&2
  exit 64
fi
cache=$1

installed=$(dpkg-query -W -f='${Version}' libmbedtls-dev 2>/dev/null || true)
version=""
while read -r v; do
  if [ "$v" = "$installed" ]; then
    version=$v
    break
  fi
  if [ -z "$version" ] || dpkg --compare-versions "$v" gt "$version"; then
    version=$v
  fi
done < <(apt-cache showsrc mbedtls 2>/dev/null | sed -n 's/^Version: //p')
if [ -z "$version" ]; then
  echo "mbedtls-mingw: apt knows no mbedtls source package (no deb-src entry?)" >&2
  exit 1
fi
prefix="$cache/mbedtls-$version-mingw64"
if [ $print_prefix -eq 1 ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/lib/libmbedtls.a" ]; then
  exit 0
fi

toolchain="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/mingw-w64-x86_64.cmake"
echo "setup: building mbedTLS $version for mingw-w64 into $prefix"
work="$cache/mbedtls-$version-build"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source -qq "mbedtls=$version" >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'mbedtls-*')
log="$work/build.log"

# Debian sets its build options in debian/rules (scripts/config.py calls
# before configuring), not in a patch: the same calls here give the same
# config.h as libmbedtls-dev's.
mapfile -t config_edits < <(awk '/^override_dh_auto_configure:/ { f = 1; next } f && /^[^\t]/ { f = 0 } f' \
  "$src/debian/rules" | sed -n 's/^\tscripts\/config\.py //p')
if [ ${#config_edits[@]} -eq 0 ]; then
  echo "mbedtls-mingw: found no scripts/config.py calls in $src/debian/rules" >&2
  exit 1
fi
# Chained with &&: set -e does not act inside an if's condition.
if ! (
  cd "$src" &&
    for edit in "${config_edits[@]}"; do
      # shellcheck disable=SC2086 # each edit is a command and its arguments
      python3 scripts/config.py $edit || exit 1
    done &&
    cmake -S . -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
      -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
      -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON &&
    cmake --build "$work/build" -j2 &&
    DESTDIR="$work/stage" cmake --install "$work/build"
) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "mbedtls-mingw: the build failed; its log is $log" >&2
  exit 1
fi

# What the project's DTLS code uses: threads, session tickets, saved
# contexts, cookies, and the PSK and certificate key exchanges.
config="$work/stage$prefix/include/mbedtls/config.h"
for option in MBEDTLS_THREADING_C MBEDTLS_THREADING_PTHREAD MBEDTLS_SSL_PROTO_DTLS \
  MBEDTLS_SSL_DTLS_HELLO_VERIFY MBEDTLS_SSL_SESSION_TICKETS MBEDTLS_SSL_CONTEXT_SERIALIZATION \
  MBEDTLS_KEY_EXCHANGE_PSK_ENABLED MBEDTLS_KEY_EXCHANGE_ECDHE_PSK_ENABLED \
  MBEDTLS_KEY_EXCHANGE_ECDHE_ECDSA_ENABLED MBEDTLS_KEY_EXCHANGE_ECDHE_RSA_ENABLED; do
  if ! grep -Eq "^#define $option([[:space:]]|$)" "$config"; then
    echo "mbedtls-mingw: $config does not enable $option" >&2
    exit 1
  fi
done
# Built from the Linux library's own source, the two must agree.
if [ "$version" = "$installed" ] && ! cmp -s "$config" /usr/include/mbedtls/config.h; then
  echo "mbedtls-mingw: $config differs from /usr/include/mbedtls/config.h" >&2
  exit 1
fi

# Moved in whole, so a half-done install never passes for a finished one.
mv "$work/stage$prefix" "$prefix"
rm -rf "$work"
