#!/usr/bin/env bash
# Runs the cross-built test programs under wine64, in a prefix of the build's
# own (created on first use, which takes a while), on a virtual X server
# (Xvfb, with openbox as the window manager) for the real window's test.
# Usage: scripts/wine-test.sh BUILD_DIR WINE [gtest options...]
# (then the console checks of tests/cli/wine_console_check.py and the
# installer's test, tests/deploy/windows_installer_test.py)
set -euo pipefail
build_dir=$(cd "$1" && pwd)
wine=$2
shift 2
# All of them on that display (wine keeps the one its first program found):
# the first free one from :90 on.
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
export WINEPREFIX="$build_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-test: creating the wine prefix $WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
fi
# wine's stand-in for "MS Shell Dlg" has no Chinese: in this prefix only, a
# CJK font (its bitmap cut, crisp at the dialogs' 9 points) takes its place.
if ! grep -qs '"MS Shell Dlg"="WenQuanYi Zen Hei Sharp"' "$WINEPREFIX/system.reg"; then
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"MS Shell Dlg"="WenQuanYi Zen Hei Sharp"' '"MS Shell Dlg 2"="WenQuanYi Zen Hei Sharp"' \
    >"$WINEPREFIX/drive_c/tovrik-fonts.reg"
  "$wine" regedit /S 'C:\tovrik-fonts.reg'
  rm -f "$WINEPREFIX/drive_c/tovrik-fonts.reg"
fi

status=0
for test in tovrik_tests tovrik_fleet_tests tovrik_receive_tests tovrik_cli_tests tovrik_ui_tests tovrik_window_tests; do
  echo "wine-test: $test.exe"
  "$wine" "$build_dir/bin/$test.exe" --gtest_brief=1 "$@" || status=1
done
# tovrik-cli.exe as a shell drives it from the Linux side: SIGINT to the wine
# process, output into pipes.
echo "wine-test: wine_console_check.py"
python3 "$(dirname "$0")/../tests/cli/wine_console_check.py" "$wine" "$build_dir/bin/tovrik-cli.exe" || status=1
# A fleet of 2,000 devices for 30 s to a receiver on the Linux side.
echo "wine-test: wine_fleet_check.py"
python3 "$(dirname "$0")/../tests/fleet/wine_fleet_check.py" "$wine" "$build_dir/bin/tovrik-cli.exe" || status=1
# The installer that make windows packs, installed and uninstalled in a
# prefix of its own.
echo "wine-test: windows_installer_test.py"
version=$("$(dirname "$0")/project-version.sh")
python3 "$(dirname "$0")/../tests/deploy/windows_installer_test.py" "$wine" \
  "$(dirname "$0")/../dist/tovrik-$version-win64-setup.exe" --version "$version" \
  --prefix "$build_dir/wineprefix-setup" || status=1

exit $status
