#!/usr/bin/env bash
# Prints, one a line, the Debian packages an image needs to run BINARY: the
# ones holding every shared library it loads (as the dynamic loader resolves
# them on this system), and tzdata, so that TZ=Area/City gives the timed
# modes and the "time" member the local time of that zone. Both image builds
# (scripts/image.sh, the Containerfile) install exactly this list, so a new
# library linked into tovrik-cli reaches the image without a list to edit.
#
#     runtime-packages.sh BINARY
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: runtime-packages.sh BINARY (an executable)" >&2
  exit 64
fi
binary=$1

# The package whose files include PATH, also where /lib is a link to /usr/lib
# and ld.so names a library by the other spelling of its path.
owner() {
  local path=$1 candidate
  for candidate in "$path" "$(realpath -e "$path")" "/usr$path" "${path#/usr}"; do
    if dpkg-query -S "$candidate" >/dev/null 2>&1; then
      dpkg-query -S "$candidate" | head -n 1 | cut -d: -f1
      return 0
    fi
  done
  return 1
}

# "libfoo.so.1 => /lib/.../libfoo.so.1 (0x...)" and the loader's own
# "/lib64/ld-linux-x86-64.so.2 (0x...)"; a library it cannot find is an error.
libraries=$(ldd "$binary")
if grep -q "not found" <<<"$libraries"; then
  echo "runtime-packages: $binary needs libraries this system does not have:" >&2
  grep "not found" <<<"$libraries" >&2
  exit 1
fi
{
  for path in $(awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' <<<"$libraries"); do
    if ! owner "$path"; then
      echo "runtime-packages: no Debian package holds $path" >&2
      exit 1
    fi
  done
  echo tzdata
} | sort -u
