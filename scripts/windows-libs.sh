#!/usr/bin/env bash
# Builds the workbook's libraries for 64-bit Windows once, with Debian's
# MinGW-w64 compilers, into a cache beside Qt's, and reuses them while the
# versions stay the same:
#   - minizip (reads the .xlsx zip) from Debian's source package minizip;
#   - libxlsxwriter (writes the .xlsx) from Debian's source package
#     libxlsxwriter, on that minizip.
# Both are static libraries: the programs carry them, and the only DLL they
# bring is zlib's zlib1.dll, from Debian's libz-mingw-w64.
#   scripts/windows-libs.sh [PREFIX]    default: $WIN_LIBS, else
#                                       ~/.cache/tarvil-config/win64-libs
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-${WIN_LIBS:-$HOME/.cache/tarvil-config/win64-libs}}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
triple=x86_64-w64-mingw32
sysroot=/usr/$triple

# The host's packages name the versions: the Linux build uses the same.
version_of() { dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true; }
minizip_version=$(version_of libminizip-dev)
xlsxwriter_version=$(version_of libxlsxwriter-dev)
if [ -z "$minizip_version" ] || [ -z "$xlsxwriter_version" ]; then
    echo "libminizip-dev and libxlsxwriter-dev must be installed (scripts/deps.sh): their versions name the sources." >&2
    exit 1
fi
[ -f "$sysroot/include/zlib.h" ] || { echo "zlib for MinGW is missing: install libz-mingw-w64-dev." >&2; exit 1; }

commands() { grep -Ev '^[[:space:]]*(#|echo )' "$1" | sha256sum | cut -d' ' -f1; }
stamp_text="minizip $minizip_version
libxlsxwriter $xlsxwriter_version
zlib $(version_of libz-mingw-w64-dev)
script $(commands "$0")
toolchain $(commands "$toolchain")
compiler $($triple-gcc-posix -dumpfullversion 2>/dev/null || echo none)"
stamp=$prefix/tarvil-libs.stamp
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
    echo "minizip and libxlsxwriter for Windows are ready in $prefix."
    exit 0
fi

echo "Building minizip $minizip_version and libxlsxwriter $xlsxwriter_version for Windows into $prefix."
work=$prefix.build
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include/minizip" "$prefix/lib"

# Debian's source packages through a private apt configuration: the machine's
# own source lists stay as they are.
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
echo "-- Fetching Debian's source packages"
apt-get "${apt_opts[@]}" -qq update
(cd "$work" && apt-get "${apt_opts[@]}" -qq --download-only source "minizip=$minizip_version" \
    "libxlsxwriter=$xlsxwriter_version")
# dpkg-source applies Debian's patches, the security fixes among them.
dpkg-source --no-check -x "$(ls "$work"/minizip_*.dsc | head -n 1)" "$work/minizip" >/dev/null
dpkg-source --no-check -x "$(ls "$work"/libxlsxwriter_*.dsc | head -n 1)" "$work/libxlsxwriter" >/dev/null

echo "-- Building minizip"
mkdir -p "$work/minizip-build"
for source in ioapi.c unzip.c zip.c mztools.c iowin32.c; do
    "$triple-gcc-posix" -O2 -DNDEBUG -I"$sysroot/include" -c "$work/minizip/$source" \
        -o "$work/minizip-build/${source%.c}.o" 2>>"$work/minizip-build.log" ||
        { tail -n 30 "$work/minizip-build.log" >&2; echo "minizip did not build" >&2; exit 1; }
done
"$triple-gcc-ar-posix" rcs "$prefix/lib/libminizip.a" "$work"/minizip-build/*.o
cp "$work"/minizip/{crypt,ioapi,mztools,unzip,zip,iowin32}.h "$prefix/include/minizip/"
# libxlsxwriter's search for minizip reads zlib's version beside its headers.
cp "$sysroot"/include/{zlib,zconf}.h "$prefix/include/"

echo "-- Building libxlsxwriter"
cmake -S "$work/libxlsxwriter" -B "$work/libxlsxwriter-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$sysroot;$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DUSE_SYSTEM_MINIZIP=ON -DMINIZIP_ROOT="$prefix" \
    -DMINIZIP_INCLUDE_DIR="$prefix/include" -DMINIZIP_LIBRARY="$prefix/lib/libminizip.a" \
    -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    >"$work/libxlsxwriter-configure.log" 2>&1 ||
    { tail -n 30 "$work/libxlsxwriter-configure.log" >&2; echo "libxlsxwriter did not configure" >&2; exit 1; }
cmake --build "$work/libxlsxwriter-build" >/dev/null
cmake --install "$work/libxlsxwriter-build" >/dev/null

printf '%s\n' "$stamp_text" >"$stamp"
rm -rf "$work"
echo "minizip and libxlsxwriter for Windows built into $prefix."
