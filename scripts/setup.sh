#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing, benchmarking
# and rendering the window need. Idempotent: installs only what is missing,
# with one `apt-get update` before the first install.
set -euo pipefail

PACKAGES=(
  build-essential cmake make pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libsimdjson-dev libcli11-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-apps x11-utils openbox imagemagick fonts-wqy-zenhei
  python3 python3-yaml time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
