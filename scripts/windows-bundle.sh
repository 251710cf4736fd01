#!/usr/bin/env bash
# The Windows bundle without windeployqt: what the programs need to start on
# a Windows machine that has nothing but Windows.
#   scripts/windows-bundle.sh fill DIR    DIR holds `cmake --install`'s
#       bin/*.exe; adds Qt's platform and style plugins, Qt's Russian texts
#       for the standard boxes, and every DLL the programs and plugins import
#       (Qt's and MinGW's run-time), found by reading their import tables;
#       all stripped of debug information
#   scripts/windows-bundle.sh check DIR   fails if a program (or zlib1.dll)
#       is missing from DIR/bin, or if any .exe or .dll in DIR imports a DLL
#       that is neither in DIR/bin nor a Windows system DLL
# WIN_QT names Qt for Windows (scripts/windows-qt.sh).
set -euo pipefail

mode=${1:?usage: windows-bundle.sh fill|check DIR}
dir=${2:?usage: windows-bundle.sh fill|check DIR}
bin=$dir/bin
objdump=x86_64-w64-mingw32-objdump
qt=${WIN_QT:-$HOME/.cache/tarvil-config/qt-6.4.2-win64}

# DLLs that every Windows (7 and later) has in its system folder. Anything
# else that a program imports must travel in the bundle.
is_system_dll() {
    local name=${1,,}
    case "$name" in
    api-ms-win-*.dll | ext-ms-win-*.dll) return 0 ;;
    esac
    case " $name " in
    *" kernel32.dll "* | *" user32.dll "* | *" gdi32.dll "* | *" shell32.dll "* | *" ole32.dll "* | \
    *" oleaut32.dll "* | *" advapi32.dll "* | *" ws2_32.dll "* | *" iphlpapi.dll "* | *" dwmapi.dll "* | \
    *" uxtheme.dll "* | *" imm32.dll "* | *" winmm.dll "* | *" version.dll "* | *" setupapi.dll "* | \
    *" netapi32.dll "* | *" userenv.dll "* | *" wtsapi32.dll "* | *" shlwapi.dll "* | *" comdlg32.dll "* | \
    *" comctl32.dll "* | *" mpr.dll "* | *" dnsapi.dll "* | *" crypt32.dll "* | *" bcrypt.dll "* | \
    *" secur32.dll "* | *" ncrypt.dll "* | *" d3d9.dll "* | *" d3d11.dll "* | *" d3d12.dll "* | \
    *" dxgi.dll "* | *" dwrite.dll "* | *" d2d1.dll "* | *" dcomp.dll "* | *" opengl32.dll "* | \
    *" msvcrt.dll "* | *" authz.dll "* | *" cfgmgr32.dll "* | *" ntdll.dll "* | *" shcore.dll "* | \
    *" winspool.drv "* | *" mswsock.dll "* | *" rpcrt4.dll "* | *" wintrust.dll "* | *" propsys.dll "* | \
    *" winhttp.dll "* | *" userenv.dll "* | *" wldap32.dll "* | *" normaliz.dll "* | *" dbghelp.dll "*)
        return 0
        ;;
    esac
    return 1
}

imports() { "$objdump" -p "$1" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr -d '\r'; }

# The file of that name in the bundle's bin, whatever its case.
in_bundle() { find "$bin" -maxdepth 1 -iname "$1" -print -quit | grep -q .; }

search_dirs() {
    echo "$qt/bin"
    # zlib's DLL, which the workbook's libraries use (libz-mingw-w64).
    echo /usr/x86_64-w64-mingw32/lib
    local f
    for f in libstdc++-6.dll libwinpthread-1.dll; do
        dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$f)"
    done
}

find_dll() {
    local d
    while IFS= read -r d; do
        local hit
        hit=$(find "$d" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
        if [ -n "$hit" ]; then
            echo "$hit"
            return 0
        fi
    done < <(search_dirs)
    return 1
}

fill() {
    [ -d "$bin" ] || { echo "no $bin: run cmake --install first" >&2; exit 1; }
    mkdir -p "$bin/platforms" "$bin/styles" "$bin/translations"
    cp "$qt/plugins/platforms/qwindows.dll" "$bin/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$bin/styles/"
    # The standard boxes' buttons in Russian: Qt's own translation, the same
    # file for every platform, from Debian's qt6-translations-l10n.
    local qm=/usr/share/qt6/translations/qtbase_ru.qm
    if [ -f "$qm" ]; then
        cp "$qm" "$bin/translations/"
    else
        echo "warning: $qm not found (qt6-translations-l10n): the boxes' buttons stay in English" >&2
    fi
    # Every DLL imported, and what those import in turn.
    local queue=() seen=" " file dll source
    while IFS= read -r file; do queue+=("$file"); done < <(find "$bin" -iname '*.exe' -o -iname '*.dll')
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        while IFS= read -r dll; do
            [ -n "$dll" ] || continue
            case "$seen" in *" ${dll,,} "*) continue ;; esac
            seen="$seen${dll,,} "
            if is_system_dll "$dll" || in_bundle "$dll"; then
                continue
            fi
            if ! source=$(find_dll "$dll"); then
                echo "$(basename "$file") imports $dll, found neither in Qt, zlib nor MinGW's run-time" >&2
                exit 1
            fi
            cp "$source" "$bin/"
            queue+=("$bin/$(basename "$source")")
        done < <(imports "$file")
    done
    # Debug information stays with the build; the bundle carries the code.
    find "$dir" \( -iname '*.exe' -o -iname '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
    echo "Bundle filled: $(find "$dir" -type f | wc -l) files, $(du -sh "$dir" | cut -f1)."
}

# What the bundle must hold whatever the import tables say: the programs,
# and zlib's DLL for the workbook's libraries.
required_files=(tarvil-config.exe tarvil-cli.exe tarvil-register.exe zlib1.dll)

check() {
    local status=0 file dll count=0 name
    for name in "${required_files[@]}"; do
        if ! in_bundle "$name"; then
            echo "MISSING: bin/$name" >&2
            status=1
        fi
    done
    while IFS= read -r file; do
        count=$((count + 1))
        while IFS= read -r dll; do
            [ -n "$dll" ] || continue
            if ! is_system_dll "$dll" && ! in_bundle "$dll"; then
                echo "MISSING: ${file#"$dir"/} imports $dll" >&2
                status=1
            fi
        done < <(imports "$file")
    done < <(find "$dir" -iname '*.exe' -o -iname '*.dll')
    if [ $status = 0 ]; then
        echo "Bundle checked: ${required_files[*]} are in it, and every DLL that its $count programs and libraries import is in it or is Windows' own."
    fi
    return $status
}

case "$mode" in
fill) fill ;;
check) check ;;
*) echo "usage: windows-bundle.sh fill|check DIR" >&2; exit 2 ;;
esac
