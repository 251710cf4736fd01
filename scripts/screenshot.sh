#!/usr/bin/env bash
# Takes pictures on a virtual X display: the main window as it stands after
# start (offline mode), stored as docs/main-window.png, and the register of
# transceivers over a journal that tarvil-cli makes against the simulator
# (reads, writes, a refused write of three transceivers), stored as
# docs/register-window.png.
# Usage: scripts/screenshot.sh [build-dir]   (make screenshot passes it)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
BIN="$BUILD/src/tarvil-config"
OUT="$ROOT/docs/main-window.png"
REGISTER="$BUILD/src/tarvil-register"
CLI="$BUILD/src/tarvil-cli"
SIM="$BUILD/tools/sim/tarvil-sim"
REGISTER_OUT="$ROOT/docs/register-window.png"

for program in "$BIN" "$REGISTER" "$CLI" "$SIM"; do
    if [ ! -x "$program" ]; then
        echo "No $program: build the tool first (make build)." >&2
        exit 1
    fi
done

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
sim_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
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

# Starts PROGRAM in the work folder and stores a picture of its mapped
# top-level window of class CLASS and size SIZE as OUT.
shoot() { # PROGRAM CLASS SIZE OUT
    (cd "$work" && DISPLAY="$display" QT_QPA_PLATFORM=xcb exec "$1") >/dev/null 2>&1 &
    app_pid=$!
    local window=""
    for _ in $(seq 1 100); do
        window=$(xwininfo -display "$display" -root -children 2>/dev/null |
                 grep "\"$2\"" | grep "$3" | awk '{print $1}' | head -n 1 || true)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "The window of $2 did not appear." >&2; exit 1; }
    sleep 1 # let it finish painting
    mkdir -p "$(dirname "$4")"
    import -display "$display" -window "$window" "$4"
    echo "Stored $4"
    kill "$app_pid" 2>/dev/null || true
    app_pid=""
}

# The tool reads its panel types from the working folder; its main window is
# 855 x 592.
cp "$ROOT/data/CentralType.txt" "$work/"
shoot "$BIN" tarvil-config 855x592 "$OUT"

# The register's journal, made in a data folder of its own by tarvil-cli
# against the simulator, one transceiver after another: the simulator keeps
# its image in a file, and each transceiver is that image with its serial
# number (bytes 14114..14117, little-endian) put in.
export XDG_DATA_HOME="$work/data"
port=$((29600 + $$ % 300))
sim() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
    "$SIM" --lan "127.0.0.2:$port" --quiet "$@" >/dev/null 2>&1 &
    sim_pid=$!
    sleep 0.5
}
cli() { (cd "$work" && "$CLI" "$@" --lan 127.0.0.2 --udp-port "$port" >/dev/null 2>&1) || true; }
transceiver() { # IMAGE SERIAL-BYTES: a copy of the first image with another serial number
    cp "$work/first.img" "$work/$1"
    printf "$2" | dd of="$work/$1" bs=1 seek=14114 conv=notrunc status=none
}
sim --image "$work/first.img"
cli read -o 12345.tvc
cli write 12345.tvc
transceiver second.img '\x1f\x79\x00\x00' # 31007
transceiver third.img '\x01\x50\x00\x00'  # 20481
sim --image "$work/second.img"
cli read -o 31007.tvc
sim --image "$work/third.img"
cli read -o 20481.tvc
cli write 20481.tvc
sim --image "$work/third.img" --fail-write
cli write 20481.tvc
sim --image "$work/third.img"
cli verify 20481.tvc
kill "$sim_pid" 2>/dev/null || true
sim_pid=""

# The register's window (1100 x 640), its newest transceiver selected.
shoot "$REGISTER" tarvil-register 1100x640 "$REGISTER_OUT"
