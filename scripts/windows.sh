#!/usr/bin/env bash
# The Windows x86_64 build, made on Debian with MinGW-w64 and tried under Wine.
#   scripts/windows.sh build   the programs, the bundle (checked), the NSIS
#                              installer and the zip, in build-windows/
#   scripts/windows.sh test    the test suite built for Windows and run under
#                              Wine in build-windows-test/, then the installer
#                              tried there as a user would
# Qt for Windows comes from scripts/windows-qt.sh, built once into WIN_QT, and
# the workbook's libraries from scripts/windows-libs.sh, into WIN_LIBS.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=${1:-build}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
export WIN_QT=${WIN_QT:-$HOME/.cache/tarvil-config/qt-6.4.2-win64}
build=${WIN_BUILD:-build-windows}
test_build=${WIN_TEST_BUILD:-build-windows-test}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
version=$(sed -n 's/^project(TarvilConfig VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

export WIN_LIBS=${WIN_LIBS:-$HOME/.cache/tarvil-config/win64-libs}
bash scripts/windows-qt.sh "$WIN_QT"
bash scripts/windows-libs.sh "$WIN_LIBS"

# The programs against that Qt. qt-cmake brings Qt's own toolchain file; the
# compilers come from the repository's, wherever Qt was built from.
configure() {
    local dir=$1
    shift
    mkdir -p "$dir"
    "$WIN_QT/bin/qt-cmake" -S "$root" -B "$dir" -G Ninja \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DTARVIL_WIN_LIBS="$WIN_LIBS" "$@" >"$dir/configure.log" 2>&1 ||
        { tail -n 30 "$dir/configure.log" >&2; exit 1; }
}

build_programs() {
    echo "== The programs for Windows (build: $build)"
    mkdir -p "$build"
    configure "$build" -DTARVIL_BUILD_TESTS=OFF -DTARVIL_WINDOWS_BUNDLE="$root/$build/bundle"
    cmake --build "$build" --parallel "$jobs"

    echo "== The bundle: the programs, Qt, its plugins and the MinGW run-time in one folder"
    rm -rf "$build/bundle"
    cmake --install "$build" --prefix "$build/bundle" >/dev/null
    bash scripts/windows-bundle.sh fill "$build/bundle"
    bash scripts/windows-bundle.sh check "$build/bundle"

    echo "== The installer and the zip"
    rm -f "$build"/tarvil-config-*-win64.exe "$build"/tarvil-config-*-win64.zip
    (cd "$build" && cpack -G "NSIS;ZIP" >cpack.log 2>&1) || { tail -n 30 "$build/cpack.log" >&2; exit 1; }
    ls -l "$build/tarvil-config-$version-win64.exe" "$build/tarvil-config-$version-win64.zip"
}

case "$mode" in
build)
    build_programs
    ;;
test)
    build_programs
    bash scripts/windows-test.sh "$build" "$test_build"
    ;;
*)
    echo "usage: scripts/windows.sh build|test" >&2
    exit 2
    ;;
esac
