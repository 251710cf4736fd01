#!/usr/bin/env bash
# Takes a picture of the main window as it stands after start (offline mode)
# on a virtual X display and stores it as docs/main-window.png.
# Usage: scripts/screenshot.sh [build-dir]   (make screenshot passes it)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
BIN="$BUILD/src/tarvil-config"
OUT="$ROOT/docs/main-window.png"

if [ ! -x "$BIN" ]; then
    echo "No $BIN: build the tool first (make build)." >&2
    exit 1
fi

# The picture needs a virtual display, two X tools and a font with Cyrillic
# letters; none of them is needed to build or use the tool.
missing=()
command -v Xvfb >/dev/null 2>&1 || missing+=(xvfb)
command -v xwininfo >/dev/null 2>&1 || missing+=(x11-utils)
command -v import >/dev/null 2>&1 || missing+=(imagemagick)
[ -n "$(fc-list :lang=ru family 2>/dev/null)" ] || missing+=(fonts-dejavu-core)
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" = "0" ] || SUDO="sudo"
    echo "Installing ${missing[*]} from the distribution's packages..."
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "No free X display number." >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do
    xwininfo -display "$display" -root >/dev/null 2>&1 && break
    sleep 0.1
done

# The tool reads its panel types from the working folder.
cp "$ROOT/data/CentralType.txt" "$work/"
(cd "$work" && DISPLAY="$display" QT_QPA_PLATFORM=xcb exec "$BIN") >/dev/null 2>&1 &
app_pid=$!

# The main window is the tool's mapped top-level window of 855 x 592.
window=""
for _ in $(seq 1 100); do
    window=$(xwininfo -display "$display" -root -children 2>/dev/null |
             grep '"tarvil-config"' | grep '855x592' | awk '{print $1}' | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "The main window did not appear." >&2; exit 1; }
sleep 1 # let it finish painting

mkdir -p "$(dirname "$OUT")"
import -display "$display" -window "$window" "$OUT"
echo "Stored $OUT"
