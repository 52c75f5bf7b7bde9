#!/usr/bin/env bash
# Runs the tool on its built-in defaults. With a display ($DISPLAY or
# $WAYLAND_DISPLAY set) and the window built, that is the window `tovrik`;
# otherwise tovrik-cli, which sends the device info message, then the status
# message once a second to 127.0.0.1:51609, until Ctrl-C.
set -euo pipefail
build_dir=${1:-build}
window="$build_dir/src/app/tovrik"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$window" ]; then
  echo "run: the window (tovrik), on display ${DISPLAY:-$WAYLAND_DISPLAY}"
  exec "$window"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display (\$DISPLAY and \$WAYLAND_DISPLAY unset): tovrik-cli on its defaults (Ctrl-C stops)"
else
  echo "run: the window is not built ($window): tovrik-cli on its defaults (Ctrl-C stops)"
fi
exec "$build_dir/src/cli/tovrik-cli"
