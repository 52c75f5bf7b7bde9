#!/usr/bin/env bash
# Renders the main window under a virtual X server (Xvfb, with openbox for
# the title bar) and saves it as a PNG.
#   scripts/screenshot.sh [build-dir] [output.png]
# Defaults: build-gui, docs/tovrik-window.png. The window starts on its
# defaults: a scratch configuration directory keeps the real settings file out.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-gui}
output=${2:-docs/tovrik-window.png}
app="$build_dir/src/app/tovrik"
[ -x "$app" ] || { echo "screenshot: $app not built" >&2; exit 1; }
for tool in Xvfb openbox xwininfo import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool missing (run scripts/setup.sh)" >&2; exit 1; }
done

scratch=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The first free display from :90 on.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

export XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$XDG_CONFIG_HOME"
# A minimal configuration: new windows get the focus, the Clearlooks theme
# with a bold title.
cat >"$scratch/openbox.xml" <<'XML'
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew></focus>
  <theme>
    <name>Clearlooks</name>
    <titleLayout>NLIMC</titleLayout>
    <font place="ActiveWindow"><name>sans</name><size>9</size><weight>bold</weight></font>
    <font place="InactiveWindow"><name>sans</name><size>9</size><weight>bold</weight></font>
  </theme>
</openbox_config>
XML
openbox --config-file "$scratch/openbox.xml" >"$scratch/openbox.log" 2>&1 &
pids+=($!)
sleep 1

# The default, unthemed look of the toolkit.
env -u QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM=xcb "$app" >"$scratch/tovrik.log" 2>&1 &
pids+=($!)

window=""
for _ in $(seq 100); do
  window=$(xwininfo -root -tree | awk '/"Velmar/ && !found {print $1; found = 1}')
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; cat "$scratch/tovrik.log" >&2; exit 1; }
# Let it paint.
sleep 1.5

mkdir -p "$(dirname "$output")"
import -silent -frame -window "$window" "png:$output.tmp"
mv "$output.tmp" "$output"
echo "screenshot: $output"
