#!/usr/bin/env bash
# Checks a built .deb: its name and dependencies, that it holds every file
# the build says it must, and that its desktop entry and metainfo pass their
# validators.
#   scripts/check-package.sh build-package/tarvil-config_31.0.13_amd64.deb
# The list of files comes from the build folder beside the package
# (packaging/expected-files.txt), or from a second argument.
set -euo pipefail

deb=${1:?usage: check-package.sh PACKAGE.deb [EXPECTED-FILES]}
expected=${2:-$(dirname "$deb")/packaging/expected-files.txt}
[ -f "$deb" ] || { echo "No package at $deb" >&2; exit 1; }
[ -f "$expected" ] || { echo "No list of expected files at $expected" >&2; exit 1; }

status=0
fail() { echo "FAIL: $*" >&2; status=1; }

name=$(dpkg-deb -f "$deb" Package)
[ "$name" = tarvil-config ] || fail "package name is '$name'"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# shlibdeps found the Qt and workbook libraries the programs link, and the platform
# plugins are asked for by name.
for dep in libqt6widgets6 libqt6serialport6 libqt6network6 libc6 qt6-qpa-plugins libxlsxwriter4 libminizip1; do
    grep -q "\b$dep\b" <<<"$depends" || fail "Depends lacks $dep"
done

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
while IFS= read -r file; do
    [ -n "$file" ] || continue
    if grep -qxF -- "$file" <<<"$contents"; then
        echo "ok   $file"
    else
        fail "missing $file"
    fi
done <"$expected"
# Nothing of the build tree or the tests goes into the package.
if grep -E 'tarvil-sim|test_|/build' <<<"$contents"; then
    fail "the package holds files it must not"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
desktop=$work/usr/share/applications/ru.tarvil.TarvilConfig.desktop
register=$work/usr/share/applications/ru.tarvil.TarvilRegister.desktop
metainfo=$(find "$work/usr/share/metainfo" -name '*.xml' | head -n 1)
# A double click on a .tvc opens it: the entry takes a file, of the type the
# package declares.
grep -qx 'MimeType=application/x-tarvil-config;' "$desktop" || fail "the desktop entry does not take .tvc files"
grep -q '^Exec=tarvil-config %f$' "$desktop" || fail "the desktop entry does not pass the file"
grep -q 'type="application/x-tarvil-config"' "$work/usr/share/mime/packages/ru.tarvil.TarvilConfig.xml" ||
    fail "the package declares no type for .tvc files"
# The register of transceivers has its own entry, which starts it.
grep -q '^Exec=tarvil-register$' "$register" || fail "the register's desktop entry does not start tarvil-register"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
    desktop-file-validate "$register" || fail "desktop-file-validate: $register"
else
    echo "desktop-file-validate not found: the desktop entry was not validated"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    HOME="$work" appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate: $metainfo"
else
    echo "appstreamcli not found: the metainfo was not validated"
fi

[ $status = 0 ] && echo "The package holds what it must."
exit $status
