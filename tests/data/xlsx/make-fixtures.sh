#!/usr/bin/env bash
# Makes the LibreOffice workbooks the tests read (made once; the files are
# committed, LibreOffice is no build dependency). Needs LibreOffice Calc and its
# Python bridge (Debian: libreoffice-calc-nogui, python3-uno) and a built
# tarvil-cli.
#   tests/data/xlsx/make-fixtures.sh build/src/tarvil-cli
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:?usage: make-fixtures.sh TARVIL_CLI}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
profile="-env:UserInstallation=file://$work/profile"

# The objects of tst_objectxlsx's kFixtureRows, through the tool's own CSV
# import into the sample configuration, then exported as the tool exports.
{ printf '\xEF\xBB\xBF'; printf '%s\r\n' \
    'Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК' \
    '0100;0001;+75326948469;+74950000000;15;3;2;' \
    '1E05;00A0;+79001234567;;0;77;0;' \
    '000A;1E05;89001234567;112;71582788;255;255;' \
    '0009;0010;+380501234567;+7;60;0;1;'; } >objects.csv
"$cli" import-csv objects.csv --into "$here/../../../fuzz/corpus/configfile/saved.tvc" -o fixture.tvc >/dev/null
"$cli" export-xlsx fixture.tvc -o exported.xlsx >/dev/null

# 1. Opened and saved again by Calc, nothing changed.
soffice "$profile" --headless --convert-to xlsx --outdir resaved exported.xlsx >/dev/null
cp resaved/exported.xlsx "$here/libreoffice-resaved.xlsx"

# 2. Opened in Calc, a new object typed in below the others as a user types
#    it (the cell's input line, not a text set by a program), saved again.
/usr/bin/python3 - "$work" <<'PY'
import subprocess, sys, time, uno
from com.sun.star.beans import PropertyValue
work = sys.argv[1]
office = subprocess.Popen(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless", "--norestore",
                           "--accept=pipe,name=tarvilfixtures;urp;"])
resolver = uno.getComponentContext().ServiceManager.createInstanceWithContext(
    "com.sun.star.bridge.UnoUrlResolver", uno.getComponentContext())
for _ in range(60):
    try:
        context = resolver.resolve("uno:pipe,name=tarvilfixtures;urp;StarOffice.ComponentContext")
        break
    except Exception:
        time.sleep(1)
desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
hidden = PropertyValue(Name="Hidden", Value=True)
doc = desktop.loadComponentFromURL(f"file://{work}/exported.xlsx", "_blank", 0, (hidden,))
# Typed through the dispatcher's input line: the cell's format decides what
# the text becomes, as it does for a user at the keyboard.
frame = doc.getCurrentController().getFrame()
dispatcher = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.DispatchHelper", context)
for cell, typed in zip(["A6", "B6", "C6", "D6", "E6", "F6", "G6"],
                       ["0200", "0002", "+79001112233", "0123", "30", "5", "1"]):
    dispatcher.executeDispatch(frame, ".uno:GoToCell", "", 0, (PropertyValue(Name="ToPoint", Value=cell),))
    dispatcher.executeDispatch(frame, ".uno:EnterString", "", 0, (PropertyValue(Name="StringName", Value=typed),))
doc.storeToURL(f"file://{work}/typed.xlsx", (PropertyValue(Name="FilterName", Value="Calc MS Excel 2007 XML"),))
doc.close(True)
try:
    desktop.terminate()
except Exception:
    pass
office.wait(timeout=60)
PY
cp typed.xlsx "$here/libreoffice-typed.xlsx"

# 3. The CSV opened in Calc with its ";" and every column left to Calc's
#    guess, saved as a workbook: numbers where the text was.
soffice "$profile" --headless --infilter="CSV:59,34,76,1" --convert-to xlsx --outdir fromcsv objects.csv >/dev/null
cp fromcsv/objects.xlsx "$here/libreoffice-from-csv.xlsx"
ls -l "$here"/*.xlsx
