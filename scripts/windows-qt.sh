#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows once, with Debian's MinGW-w64 compilers,
# into a cache outside the repository, and reuses it while the versions stay
# the same:
#   - Qt base from Debian's source package qt6-base, the release the host's
#     Qt comes from, so that the host's moc, rcc and uic fit it;
#   - Qt Serial Port 6.4.2 from QTSERIALPORT_SOURCE (Debian's archive does
#     not carry its source; Qt publishes it as
#     https://download.qt.io/archive/qt/6.4/6.4.2/submodules/qtserialport-everywhere-src-6.4.2.tar.xz).
# The first build takes about 20 minutes on two cores (about 1 200 steps).
#   scripts/windows-qt.sh [PREFIX]     default: $WIN_QT, else
#                                      ~/.cache/tarvil-config/qt-6.4.2-win64
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-${WIN_QT:-$HOME/.cache/tarvil-config/qt-6.4.2-win64}}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
qt_version=6.4.2
serial_source=${QTSERIALPORT_SOURCE:-$root/../shared/third_party/qtserialport-everywhere-src-$qt_version.tar.xz}
toolchain=$root/cmake/mingw-w64-x86_64.cmake

# The host's Qt release decides the source package: their tools must match.
base_version=$(dpkg-query -W -f='${source:Version}' libqt6core6 2>/dev/null || true)
case "$base_version" in
"$qt_version"*) ;;
*)
    echo "The host's Qt is '${base_version:-not installed}', not $qt_version: the Windows build needs qt6-base-dev $qt_version." >&2
    exit 1
    ;;
esac

if [ ! -f "$serial_source" ]; then
    cat >&2 <<EOF
Qt Serial Port's source was not found at
  $serial_source
Download qtserialport-everywhere-src-$qt_version.tar.xz from
  https://download.qt.io/archive/qt/6.4/$qt_version/submodules/
and name it with QTSERIALPORT_SOURCE=/path/to/it.
EOF
    exit 1
fi
serial_sha=$(sha256sum "$serial_source" | cut -d' ' -f1)

# Everything that shapes the result: when any of it changes, Qt is rebuilt.
# The feature list stays in this file, so the stamp hashes the script itself,
# and the toolchain file, without their comments and messages: a reworded
# line must not cost a rebuild.
commands() { grep -Ev '^[[:space:]]*(#|echo )' "$1" | sha256sum | cut -d' ' -f1; }
stamp_text="qt6-base $base_version
qtserialport $serial_sha
script $(commands "$0")
toolchain $(commands "$toolchain")
compiler $(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo none)"
stamp=$prefix/tarvil-qt.stamp
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
    echo "Qt $qt_version for Windows is ready in $prefix."
    exit 0
fi

echo "Building Qt $qt_version for Windows x86_64 into $prefix."
echo "This is done once per machine and takes about 20 minutes on two cores; progress follows."
started=$(date +%s)

# An interrupted build goes on where it stopped, if nothing it depends on has
# changed since.
work=$prefix.build
if [ ! -f "$work/wanted.stamp" ] || [ "$(cat "$work/wanted.stamp")" != "$stamp_text" ]; then
    rm -rf "$work"
fi
rm -rf "$prefix"
mkdir -p "$work"
printf '%s\n' "$stamp_text" >"$work/wanted.stamp"

# Debian's source package through a private apt configuration: the machine's
# own source lists stay as they are. The deb-src entries name the archives the
# machine already installs from.
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts"
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*$/Types: deb-src/' "$f" >"$apt_dir/parts/$(basename "$f")"
done
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb\s/deb-src /p' /etc/apt/sources.list >"$apt_dir/parts/main.list"
fi
apt_opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/parts"
          -o "Dir::State::Lists=$apt_dir/lists" -o "APT::Sandbox::User=root")
if [ ! -f "$work/qtbase/.cmake.conf" ]; then
    echo "-- Fetching Debian's source package qt6-base $base_version"
    apt-get "${apt_opts[@]}" -qq update
    (cd "$work" && apt-get "${apt_opts[@]}" -qq --download-only source "qt6-base=$base_version")
    dsc=$(ls "$work"/qt6-base_*.dsc | head -n 1)
    # dpkg-source applies Debian's patches, the security fixes among them.
    rm -rf "$work/qtbase"
    dpkg-source --no-check -x "$dsc" "$work/qtbase" >/dev/null
fi
if [ ! -f "$work/qtserialport/.cmake.conf" ]; then
    rm -rf "$work/qtserialport"
    mkdir -p "$work/qtserialport"
    tar -xJf "$serial_source" -C "$work/qtserialport" --strip-components=1
fi

# Only what the tool and its tests use: Core, Gui, Widgets, Network,
# SerialPort and Test; the windows and offscreen platforms (offscreen draws
# with FreeType) and the windowsvista style. Windows needs no ICU; the dfsg
# tarball lacks the Wintab headers, so tablet events are off. The windows
# platform of 6.4.2 needs two things it does not say: OpenGL on (it stays
# dynamic, the default, which loads no GL library until one is asked for),
# and Direct2D on, without which its DirectWrite font database is not built.
echo "-- Configuring Qt base"
cmake -S "$work/qtbase" -B "$work/qtbase-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_GENERATE_SBOM=OFF \
    -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_icu=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_direct2d=ON -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_sql_sqlite=OFF -DFEATURE_androiddeployqt=OFF \
    >"$work/qtbase-configure.log" 2>&1 ||
    { tail -n 40 "$work/qtbase-configure.log" >&2; echo "Qt base did not configure; see $work/qtbase-configure.log" >&2; exit 1; }
echo "-- Building Qt base (about 1 200 steps)"
cmake --build "$work/qtbase-build" --parallel "$jobs"
cmake --install "$work/qtbase-build" >/dev/null

echo "-- Building Qt Serial Port"
"$prefix/bin/qt-cmake" -S "$work/qtserialport" -B "$work/qtserialport-build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    >"$work/qtserialport-configure.log" 2>&1 ||
    { tail -n 40 "$work/qtserialport-configure.log" >&2; echo "Qt Serial Port did not configure; see $work/qtserialport-configure.log" >&2; exit 1; }
cmake --build "$work/qtserialport-build" --parallel "$jobs"
cmake --install "$work/qtserialport-build" >/dev/null

printf '%s\n' "$stamp_text" >"$stamp"
rm -rf "$work"
echo "Qt $qt_version for Windows built in $(( ($(date +%s) - started) / 60 )) min, into $prefix."
