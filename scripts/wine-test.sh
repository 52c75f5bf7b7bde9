#!/usr/bin/env bash
# Runs the cross-built test programs under wine64, in a prefix of the build's
# own (created on first use, which takes a while).
# Usage: scripts/wine-test.sh BUILD_DIR WINE [gtest options...]
set -euo pipefail
build_dir=$(cd "$1" && pwd)
wine=$2
shift 2
export WINEPREFIX="$build_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-test: creating the wine prefix $WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
fi
status=0
for test in tovrik_tests tovrik_cli_tests; do
  echo "wine-test: $test.exe"
  "$wine" "$build_dir/bin/$test.exe" --gtest_brief=1 "$@" || status=1
done

exit $status
