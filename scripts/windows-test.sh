#!/usr/bin/env bash
# The Windows build under Wine (called by scripts/windows.sh test, after the
# programs, the bundle and the installer are built):
#   1. a Wine prefix of its own in TEST_BUILD/wine: no crash dialogs, no
#      debug output, a sans-serif font;
#   2. the native simulator's silent pseudo-terminal mapped as COM5;
#   3. the test suite built for Windows and run by CTest under Wine, with the
#      offscreen platform; what Windows cannot run is named with its reason;
#   4. the installer tried as a user would: installed silently, tarvil-cli
#      writing and reading the native simulator over LAN, the register of
#      transceivers listing it, tarvil-config started with a .tvc,
#      tarvil-register showing its window, the uninstaller removing what was
#      installed.
#   scripts/windows-test.sh BUILD TEST_BUILD
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:?usage: windows-test.sh BUILD TEST_BUILD}
tb=${2:?usage: windows-test.sh BUILD TEST_BUILD}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
version=$(sed -n 's/^project(TarvilConfig VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p "$tb"
tb=$(cd "$tb" && pwd)

export WINEPREFIX=$tb/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

step() { echo; echo "== $*"; }

step "Wine prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# A crash ends the program with its backtrace on the console, never in a
# dialog that waits for a click.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
# Wine passes no QT_* variable from Linux to a Windows program, so the
# prefix holds its own: the tests' offscreen platform, and Qt's messages on
# standard error rather than in the debugger's channel. (The window's trial
# below asks for the windows platform on its command line.)
wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null
wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /t REG_SZ /d 1 /f >/dev/null
# The offscreen platform draws with FreeType from this folder, as on Linux.
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /t REG_SZ /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null
# Wine has no Windows fonts: the dialog fonts become DejaVu Sans, which has
# the Cyrillic letters.
fonts=$WINEPREFIX/drive_c/windows/Fonts
for f in /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf; do
    [ -f "$f" ] && cp -f "$f" "$fonts/"
done
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Arial" "Microsoft Sans Serif"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" /t REG_SZ \
        /d "DejaVu Sans" /f >/dev/null
done

step "The native simulator (Linux): the LAN side of the tests, the COM port, the trials"
native=$tb/native
cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIL_BUILD_TESTS=OFF >"$native.log" 2>&1 ||
    { tail -n 30 "$native.log" >&2; exit 1; }
cmake --build "$native" --target tarvil-sim --parallel "$jobs" >>"$native.log" 2>&1 ||
    { tail -n 30 "$native.log" >&2; exit 1; }
sim=$native/tools/sim/tarvil-sim
"$sim" --usb --silent --quiet >"$tb/sim-usb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q '^USB: ' "$tb/sim-usb.log" && break; sleep 0.1; done
pty=$(sed -n 's/^USB: \([^ ]*\).*$/\1/p' "$tb/sim-usb.log" | head -n 1)
[ -n "$pty" ] || { cat "$tb/sim-usb.log" >&2; echo "the simulator gave no pseudo-terminal" >&2; exit 1; }
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$pty" /f >/dev/null
# The ports are read when Wine starts.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
echo "COM5 is $pty (a simulator that does not answer)"

step "The test suite for Windows (build: $tb)"
"$WIN_QT/bin/qt-cmake" -S "$root" -B "$tb" -G Ninja -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTARVIL_BUILD_TESTS=ON -DTARVIL_NATIVE_SIM="$sim" \
    -DTARVIL_WIN_LIBS="${WIN_LIBS:-$HOME/.cache/tarvil-config/win64-libs}" >"$tb/configure.log" 2>&1 ||
    { tail -n 30 "$tb/configure.log" >&2; exit 1; }
cmake --build "$tb" --parallel "$jobs"
# Keep one wineserver, and Wine's own services, for the whole run: every test
# starts faster. The services start here, with no pipe of a test's to hold
# open (CTest would wait on it).
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
status=0
(cd "$tb" && TARVIL_TEST_COM_PORT=COM5 ctest -j "$jobs" --output-on-failure) | tee "$tb/ctest.log" || status=1
[ "${PIPESTATUS[0]}" = 0 ] || status=1
echo
echo "Skipped under Wine, with their reasons:"
grep -h '^SKIP ' "$tb"/Testing/Temporary/LastTest.log | sed 's/^SKIP   *: /  /; s/ *Loc:.*//' | sort -u || true
grep -h 'Left out on Windows' "$tb"/Testing/Temporary/LastTest.log | sort -u | sed 's/^/  /' || true
[ $status = 0 ] || { echo "The test suite failed under Wine." >&2; exit 1; }
# The persistent server would keep every wait below waiting.
wineserver -k
wineserver -w

step "The installer, as a user would: silent install, LAN with the native simulator, a .tvc, uninstall"
installer=$root/$build/tarvil-config-$version-win64.exe
[ -f "$installer" ] || { echo "no installer at $installer" >&2; exit 1; }
wine "$installer" /S
wineserver -w
installed="$WINEPREFIX/drive_c/Program Files/Tarvil-QZT"
for f in bin/tarvil-config.exe bin/tarvil-cli.exe bin/tarvil-register.exe bin/Qt6Core.dll bin/platforms/qwindows.dll \
         share/tarvil-config/CentralType.txt Uninstall.exe; do
    [ -f "$installed/$f" ] || { echo "the installer did not put $f in place" >&2; exit 1; }
done
wine reg query 'HKLM\Software\Classes\.tvc' | grep -q TarvilQZT.Configuration ||
    { echo ".tvc is not associated with the tool" >&2; exit 1; }
find "$WINEPREFIX/drive_c" -name 'Конфигуратор Тарвил-QZT.lnk' | grep -q . ||
    { echo "no Start-menu entry" >&2; exit 1; }
find "$WINEPREFIX/drive_c" -name 'Журнал трансиверов.lnk' | grep -q . ||
    { echo "no Start-menu entry for the register of transceivers" >&2; exit 1; }
echo "installed: programs, Qt, the sample catalogue, the uninstaller, the Start-menu entries, .tvc"

port=29790
"$sim" --lan "127.0.0.2:$port" --quiet >"$tb/sim-lan.log" 2>&1 &
pids+=($!)
sleep 0.5
trial=$tb/trial/Объект
rm -rf "$tb/trial"
# The register below counts this trial's reads and writes alone.
find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -path '*/AppData/Roaming/tarvil-config' -exec rm -rf {} + 2>/dev/null || true
mkdir -p "$trial"
cli="$installed/bin/tarvil-cli.exe"
(
    cd "$trial"
    wine "$cli" read --lan 127.0.0.2 --udp-port $port -o "до записи.tvc" >read.out 2>read.err
    wine "$cli" export-csv "до записи.tvc" -o "объекты.csv"
    wine "$cli" import-csv "объекты.csv" --into "до записи.tvc" -o "из csv.tvc"
    # The workbook, through the libraries and zlib1.dll the installer carries.
    wine "$cli" export-xlsx "до записи.tvc" -o "объекты.xlsx"
    wine "$cli" import-xlsx "объекты.xlsx" --into "до записи.tvc" -o "новая.tvc"
    cmp -s "из csv.tvc" "новая.tvc" || { echo "the workbook's objects differ from the CSV's" >&2; exit 1; }
    wine "$cli" write "новая.tvc" --lan 127.0.0.2 --udp-port $port --verify >write.out 2>write.err
) || { cat "$trial"/*.err >&2; echo "the installed tarvil-cli failed against the simulator" >&2; exit 1; }
grep -q 'Трансивер хранит записанную конфигурацию.' "$trial/write.out" ||
    { cat "$trial/write.err" >&2; exit 1; }
echo "the installed tarvil-cli read, converted through CSV and .xlsx, wrote and verified over LAN:"
tail -n 2 "$trial/write.err" | sed 's/^/  /'
# The journal of those reads and the write, as the register of transceivers
# sees it: the transceiver written once, and read last by the verify.
(cd "$trial" && wine "$cli" register --json >register.json 2>register.err) ||
    { cat "$trial/register.err" >&2; echo "tarvil-cli register failed" >&2; exit 1; }
json=$trial/register.json
grep -Eq '"writes": 1,?[[:space:]]*$' "$json" && [ "$(grep -c '"outcome": "done"' "$json")" = 2 ] &&
    [ "$(grep -c '"copyState": "intact"' "$json")" = 2 ] ||
    { cat "$json" >&2; echo "the register does not list the write and the read" >&2; exit 1; }
echo "  the register lists the transceiver: one write, the last read, both with their copies"

# The window, started with a .tvc as a double click starts it, under a
# virtual display with the windows platform: a good file is loaded without a
# box, a foreign one gets the loader's box, so the file given is the one read.
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
# Wine's desktop started without a display so far: it starts anew on this one.
wineserver -k 2>/dev/null || true
wineserver -w
printf 'TranzP%0600d' 0 >"$trial/чужой.tvc"
window_titles() { xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null || true; }
open_with() {
    (cd "$trial" && exec wine "$installed/bin/tarvil-config.exe" -platform windows "$1") >/dev/null 2>&1 &
    local app=$!
    # The first window in a prefix takes a while: Wine builds its font cache.
    for _ in $(seq 600); do
        window_titles | grep -q 'Трансивер ЛТКЗ' && break
        sleep 0.2
    done
    if [ -n "${3:-}" ]; then
        # A box that must come: waited for, since a loaded machine may take
        # longer than the few seconds that show one that does not.
        for _ in $(seq 300); do
            window_titles | grep -q "$3" && break
            sleep 0.2
        done
    else
        sleep 3 # the load and its box, if any
    fi
    window_titles >"$trial/titles.txt"
    if [ -n "${2:-}" ]; then
        local id
        id=$(xdotool search --onlyvisible --name 'Трансивер ЛТКЗ' 2>/dev/null | head -n 1)
        import -window "${id:-root}" "$2"
    fi
    kill $app 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}
open_with "до записи.tvc" "$tb/window-under-wine.png"
grep -q 'Трансивер ЛТКЗ' "$trial/titles.txt" ||
    { echo "tarvil-config showed no window; the display has:" >&2; cat "$trial/titles.txt" >&2; exit 1; }
if grep -q 'Загрузка конфигурации' "$trial/titles.txt"; then
    echo "tarvil-config refused the .tvc given to it" >&2
    exit 1
fi
open_with "чужой.tvc" "" 'Загрузка конфигурации'
grep -q 'Загрузка конфигурации' "$trial/titles.txt" ||
    { echo "tarvil-config did not load the foreign file given to it" >&2; exit 1; }
echo "the installed tarvil-config loads the .tvc it is started with (picture: $tb/window-under-wine.png)"

# The register of transceivers, started as its Start-menu entry starts it.
(cd "$trial" && exec wine "$installed/bin/tarvil-register.exe" -platform windows) >/dev/null 2>&1 &
register_app=$!
for _ in $(seq 600); do
    window_titles | grep -q 'Журнал трансиверов' && break
    sleep 0.2
done
sleep 2
window_titles >"$trial/titles.txt"
if grep -q 'Журнал трансиверов' "$trial/titles.txt"; then
    id=$(xdotool search --onlyvisible --name 'Журнал трансиверов' 2>/dev/null | head -n 1)
    import -window "${id:-root}" "$tb/register-under-wine.png"
fi
kill $register_app 2>/dev/null || true
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
grep -q 'Журнал трансиверов' "$trial/titles.txt" ||
    { echo "tarvil-register showed no window; the display has:" >&2; cat "$trial/titles.txt" >&2; exit 1; }
unset DISPLAY
echo "the installed tarvil-register shows the register (picture: $tb/register-under-wine.png)"

uninstaller="$installed/Uninstall.exe"
wine "$uninstaller" /S
wineserver -w
if [ -e "$installed" ]; then
    echo "the uninstaller left:" >&2
    find "$installed" >&2
    exit 1
fi
if wine reg query 'HKLM\Software\Classes\.tvc' >/dev/null 2>&1; then
    echo "the uninstaller left the .tvc association" >&2
    exit 1
fi
if find "$WINEPREFIX/drive_c" \( -name 'Конфигуратор Тарвил-QZT.lnk' -o -name 'Журнал трансиверов.lnk' \) | grep -q .; then
    echo "the uninstaller left a Start-menu entry" >&2
    exit 1
fi
echo "uninstalled: nothing of the tool is left"
echo
echo "make windows-test: passed."
