#!/usr/bin/env bash
# Builds OpenSSL for the Windows cross-build from Debian's openssl source
# package (`apt-get source`, Debian's patches applied): static libcrypto and
# libssl with their headers in CACHE_DIR/openssl-<version>-mingw64. Does
# nothing when that already has lib/libssl.a.
# Usage: scripts/openssl-mingw.sh CACHE_DIR
#        scripts/openssl-mingw.sh --prefix CACHE_DIR   (prints that directory)
#
# <version> is the installed openssl package's when apt can fetch its source,
# else the newest source apt knows: Debian's mirrors keep one version a
# suite, so an older installed one may no longer be there.
set -euo pipefail

print_prefix=0
if [ "${1:-}" = "--prefix" ]; then
  print_prefix=1
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: openssl-mingw.sh [--prefix] CACHE_DIR" >&2
  exit 64
fi
cache=$1

installed=$(dpkg-query -W -f='${Version}' openssl 2>/dev/null || true)
version=""
while read -r v; do
  if [ "$v" = "$installed" ]; then
    version=$v
    break
  fi
  if [ -z "$version" ] || dpkg --compare-versions "$v" gt "$version"; then
    version=$v
  fi
done < <(apt-cache showsrc openssl 2>/dev/null | sed -n 's/^Version: //p')
if [ -z "$version" ]; then
  echo "openssl-mingw: apt knows no openssl source package (no deb-src entry?)" >&2
  exit 1
fi
prefix="$cache/openssl-$version-mingw64"
if [ $print_prefix -eq 1 ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/lib/libssl.a" ]; then
  exit 0
fi

echo "setup: building OpenSSL $version for mingw-w64 into $prefix"
work="$cache/openssl-$version-build"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source -qq "openssl=$version" >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*')
log="$work/build.log"

# Debian's own choice of algorithms and default security level, so both
# builds offer the same. The paths compiled in are the ones OpenSSL's own
# Windows builds use: only administrators can write there, whereas the
# install prefix would become C:\var\cache\... on Windows, which any user
# may create (and plant an openssl.cnf or a module in).
windows_paths=(
  "OPENSSLDIR=C:/Program Files/Common Files/SSL"
  "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
  "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules"
)
if ! (
  cd "$src"
  ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$prefix" --libdir=lib \
    no-shared no-tests \
    no-idea no-mdc2 no-rc5 no-zlib no-ssl3 no-ssl3-method enable-rfc3779 enable-cms no-capieng no-rdrand \
    enable-ec_nistp_64_gcc_128 -DOPENSSL_TLS_SECURITY_LEVEL=2 -D_WIN32_WINNT=0x0601
  make -j2 build_libs "${windows_paths[@]}"
  make install_dev "${windows_paths[@]}" DESTDIR="$work/stage"
) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "openssl-mingw: the build failed; its log is $log" >&2
  exit 1
fi
# Moved in whole, so a half-done install never passes for a finished one.
mv "$work/stage$prefix" "$prefix"
rm -rf "$work"
