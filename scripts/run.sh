#!/usr/bin/env bash
# Runs the tool on its built-in defaults: sends the device info message, then
# the status message once a second to 127.0.0.1:51609, until Ctrl-C.
set -euo pipefail
build_dir=${1:-build}
echo "run: tovrik-cli on its defaults (Ctrl-C stops)"
exec "$build_dir/src/cli/tovrik-cli"
