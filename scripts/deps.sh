#!/usr/bin/env bash
# Installs the build dependencies from the distribution's packages when they
# are missing (Debian 12, Ubuntu 22.04 or later). Nothing else is fetched.
#   scripts/deps.sh        the build: CMake, g++, Qt 6, and the workbook's
#                          libraries libxlsxwriter and minizip (with zlib)
#   scripts/deps.sh fuzz     and clang with libFuzzer and the sanitizer runtimes
#   scripts/deps.sh package  and what `make package` needs: dpkg-shlibdeps and
#                            file for CPack's .deb, the desktop-entry and
#                            AppStream validators for the package check
#   scripts/deps.sh windows  and what `make windows` and `make windows-test`
#                            need: the MinGW-w64 cross compilers and zlib, Ninja,
#                            dpkg-source (for Qt's source package), NSIS,
#                            Wine, Qt's translations, and for the trial of
#                            the window under Wine Xvfb, xdotool, ImageMagick
#                            and a font with Cyrillic letters
set -euo pipefail

want_fuzz=no
want_package=no
want_windows=no
case "${1:-}" in
fuzz) want_fuzz=yes ;;
package) want_package=yes ;;
windows) want_windows=yes ;;
esac

have_all() {
    command -v cmake >/dev/null 2>&1 && command -v g++ >/dev/null 2>&1 &&
    command -v make >/dev/null 2>&1 &&
    { [ -f /usr/lib/x86_64-linux-gnu/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake ] ||
      ls /usr/lib/*/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake >/dev/null 2>&1; } &&
    ls /usr/lib/*/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake >/dev/null 2>&1 &&
    [ -f /usr/include/xlsxwriter.h ] && [ -f /usr/include/minizip/unzip.h ] && [ -f /usr/include/zlib.h ]
}

# clang links a libFuzzer target with the sanitizers.
have_fuzz() {
    command -v clang++ >/dev/null 2>&1 || return 1
    local dir
    dir=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
        >"$dir/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
    local status=$?
    rm -rf "$dir"
    return $status
}

have_package() {
    command -v dpkg-shlibdeps >/dev/null 2>&1 && command -v dpkg-deb >/dev/null 2>&1 &&
    command -v file >/dev/null 2>&1 && command -v appstreamcli >/dev/null 2>&1 &&
    command -v desktop-file-validate >/dev/null 2>&1
}

have_windows() {
    command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v ninja >/dev/null 2>&1 &&
    [ -f /usr/x86_64-w64-mingw32/include/zlib.h ] &&
    command -v dpkg-source >/dev/null 2>&1 && command -v makensis >/dev/null 2>&1 &&
    command -v wine >/dev/null 2>&1 && command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1 &&
    command -v import >/dev/null 2>&1 && command -v xwininfo >/dev/null 2>&1 &&
    [ -f /usr/share/qt6/translations/qtbase_ru.qm ] && [ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ]
}

if have_all && { [ "$want_fuzz" = no ] || have_fuzz; } && { [ "$want_package" = no ] || have_package; } &&
    { [ "$want_windows" = no ] || have_windows; }; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" != "0" ]; then
    SUDO="sudo"
fi

echo "Installing build dependencies (Qt 6, CMake, g++) from the distribution's packages..."
$SUDO apt-get update -qq
# The serial-port development package is named differently across releases.
serial=qt6-serialport-dev
if ! apt-cache show "$serial" >/dev/null 2>&1; then
    serial=libqt6serialport6-dev
fi
packages=(cmake g++ make qt6-base-dev "$serial" libgl-dev libxlsxwriter-dev libminizip-dev zlib1g-dev)
if [ "$want_fuzz" = yes ]; then
    packages+=(clang)
    # The sanitizer and libFuzzer runtimes have a package of their own on
    # newer releases (libclang-rt-14-dev on Debian 12); older ones ship them
    # with clang itself.
    version=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
    if [ -n "$version" ] && apt-cache show "libclang-rt-$version-dev" >/dev/null 2>&1; then
        packages+=("libclang-rt-$version-dev")
    fi
fi
if [ "$want_package" = yes ]; then
    packages+=(dpkg-dev file appstream desktop-file-utils)
fi
if [ "$want_windows" = yes ]; then
    packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev ninja-build dpkg-dev xz-utils nsis wine64 wine qt6-translations-l10n
               xvfb xdotool x11-utils imagemagick fonts-dejavu-core)
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${packages[@]}" >/dev/null
have_all || { echo "The build dependencies could not be installed." >&2; exit 1; }
if [ "$want_package" = yes ]; then
    have_package || { echo "The packaging tools could not be installed." >&2; exit 1; }
fi
if [ "$want_windows" = yes ]; then
    have_windows || { echo "The tools of the Windows build could not be installed." >&2; exit 1; }
fi
if [ "$want_fuzz" = yes ]; then
    have_fuzz || { echo "clang cannot link a libFuzzer target with the sanitizers." >&2; exit 1; }
fi
