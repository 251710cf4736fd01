// The object list through a real spreadsheet: the exported workbook and CSV
// opened and saved again by LibreOffice Calc, where it is installed, and
// imported back into the configuration they came from. The workbook must
// come back as it went; the CSV either the same or refused, every refusal
// naming what the spreadsheet changed. LibreOffice is no build dependency:
// without `soffice` on the PATH the test skips and says so.
#include "support/SampleConfiguration.h"

#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace tarvil;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class LibreOfficeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        soffice_ = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice_.isEmpty())
            QSKIP("LibreOffice (soffice) is not on the PATH: the round trip through Calc is not tried");
        QVERIFY(folder_.isValid());
    }

    void exportedListsThroughCalc()
    {
        // What a spreadsheet guesses wrong, among ordinary objects.
        QList<ObjectRow> rows{test::objectRow("0100", "0001", "+75326948469", "+74950000000", 15),
                              test::objectRow("1E05", "00A0", "+79001234567", "", 0),
                              test::objectRow("000A", "1E05", "89001234567", "112", 71582788),
                              test::objectRow("0009", "0010", "+380501234567", "+7", 60)};
        rows += test::sampleRows(20);
        // What an import of the tool's own files gives: the records' view of the rows.
        const QList<ObjectRow> expected = objectsFromCsv(objectsToCsv(rows)).rows;
        QCOMPARE(expected.size(), rows.size());

        const QDir dir(folder_.path());
        QVERIFY(dir.mkpath(QStringLiteral("in")) && dir.mkpath(QStringLiteral("out")));
        QString error;
        writeFile(dir.filePath(QStringLiteral("in/objects.xlsx")), objectsToXlsx(rows, &error).value());
        writeFile(dir.filePath(QStringLiteral("in/objects.csv")), objectsToCsv(rows));

        // Opened and saved again; the CSV opened with its ";" as a user opens it,
        // every column left to Calc's guess.
        calc({}, QStringLiteral("xlsx"), dir.filePath(QStringLiteral("in/objects.xlsx")));
        if (QTest::currentTestFailed())
            return;
        calc({QStringLiteral("--infilter=CSV:59,34,76,1")}, QStringLiteral("csv:Text - txt - csv (StarCalc):59,34,76,1"),
             dir.filePath(QStringLiteral("in/objects.csv")));
        if (QTest::currentTestFailed())
            return;

        const SheetObjects workbook = readObjectsXlsx(dir.filePath(QStringLiteral("out/objects.xlsx")), &rows);
        QVERIFY2(workbook.ok(), qPrintable(workbook.describe(10)));
        QCOMPARE(workbook.rows, expected);

        const SheetObjects csv = readObjectsCsv(dir.filePath(QStringLiteral("out/objects.csv")), &rows);
        if (csv.ok()) {
            qInfo("The CSV came back from Calc unchanged.");
            QCOMPARE(csv.rows, expected);
            return;
        }
        qInfo("The CSV came back from Calc changed in %d rows, and is refused:\n%s", csv.failingRows(),
              qPrintable(csv.describe(5)));
        QVERIFY(csv.rows.isEmpty());
        // Every refusal is a spreadsheet's change, and says so.
        for (const SheetProblem &p : csv.problems)
            QVERIFY2(p.spreadsheet && p.line > 1 && !p.column.isEmpty(), qPrintable(p.text()));
        QVERIFY(!csv.advice().isEmpty());
    }

private:
    // soffice headless with a profile of its own, converting `file` into out/.
    void calc(const QStringList &options, const QString &convertTo, const QString &file)
    {
        QProcess office;
        office.setProcessChannelMode(QProcess::MergedChannels);
        const QString profile = QUrl::fromLocalFile(folder_.filePath(QStringLiteral("profile"))).toString();
        office.start(soffice_, QStringList{QStringLiteral("-env:UserInstallation=") + profile,
                                           QStringLiteral("--headless"), QStringLiteral("--norestore")}
                                   + options
                                   + QStringList{QStringLiteral("--convert-to"), convertTo, QStringLiteral("--outdir"),
                                                 folder_.filePath(QStringLiteral("out")), file});
        // A first start makes the profile; a loaded machine is slow.
        QVERIFY2(office.waitForFinished(240000), "soffice did not finish in 4 minutes");
        QVERIFY2(office.exitStatus() == QProcess::NormalExit && office.exitCode() == 0,
                 office.readAll().constData());
    }

    QString soffice_;
    QTemporaryDir folder_;
};

QTEST_GUILESS_MAIN(LibreOfficeTest)
#include "tst_libreoffice.moc"
