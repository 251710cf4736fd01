// Which CentralType.txt the window loads: the working folder's first, the
// sample installed with the program only when the working folder has none.
// Where the journal goes.
#include "files/DataPaths.h"
#include "files/Journal.h"
#include "model/PanelTypeCatalogue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvil;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QByteArray kWorking = "1;Working;1;0\r\n";
const QByteArray kInstalled = "7;Sample;3;1\r\n8;Other;3;1\r\n";

enum class Working { Nothing, File, Folder, DanglingLink };
enum class Installed { Nothing, File, Folder };

} // namespace

class DataPathsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void catalogue_workingFolderFirst_thenTheInstalledSample_data()
    {
        QTest::addColumn<Working>("working");
        QTest::addColumn<Installed>("installed");
        QTest::addColumn<bool>("programKnown");
        QTest::addColumn<bool>("takesInstalled");
        QTest::addColumn<int>("rows"); // what the catalogue then holds
        QTest::newRow("working folder wins") << Working::File << Installed::File << true << false << 1;
        QTest::newRow("none there: the sample") << Working::Nothing << Installed::File << true << true << 2;
        QTest::newRow("neither: empty, as before") << Working::Nothing << Installed::Nothing << true << false << 0;
        QTest::newRow("a folder of that name stays") << Working::Folder << Installed::File << true << false << 0;
        QTest::newRow("a folder is no sample") << Working::Nothing << Installed::Folder << true << false << 0;
        QTest::newRow("program folder unknown") << Working::Nothing << Installed::File << false << false << 0;
#ifdef Q_OS_UNIX
        QTest::newRow("a dangling link stays") << Working::DanglingLink << Installed::File << true << false << 0;
#endif
    }

    void catalogue_workingFolderFirst_thenTheInstalledSample()
    {
        QFETCH(Working, working);
        QFETCH(Installed, installed);
        QFETCH(bool, programKnown);
        QFETCH(bool, takesInstalled);
        QFETCH(int, rows);

        // <prefix>/bin holds the program, <prefix>/share its data; the tool
        // runs in a folder of its own.
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("prefix/bin"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("work"))));
        QVERIFY(QDir::setCurrent(root.filePath(QStringLiteral("work"))));

        const QString sample = installedCataloguePath(bin);
        QVERIFY2(sample.endsWith(QStringLiteral("/tarvil-config/CentralType.txt")), qPrintable(sample));
        QVERIFY(!sample.startsWith(bin + QLatin1Char('/')));
        if (installed == Installed::File)
            writeFile(sample, kInstalled);
        if (installed == Installed::Folder)
            QVERIFY(QDir().mkpath(sample));
        switch (working) {
        case Working::Nothing: break;
        case Working::File: writeFile(QStringLiteral("CentralType.txt"), kWorking); break;
        case Working::Folder: QVERIFY(QDir().mkdir(QStringLiteral("CentralType.txt"))); break;
        case Working::DanglingLink:
            QVERIFY(QFile::link(root.filePath(QStringLiteral("gone.txt")), QStringLiteral("CentralType.txt")));
            break;
        }

        const QString path = catalogueToLoad(programKnown ? bin : QString());
        QCOMPARE(path, takesInstalled ? sample : QStringLiteral("CentralType.txt"));
        PanelTypeCatalogue catalogue;
        QCOMPARE(catalogue.LoadCatalogue(path), QString());
        QCOMPARE(catalogue.count(), rows);
    }

    // Where the README tells the user to look: %APPDATA%\tarvil-config on
    // Windows, the XDG data folder elsewhere.
    void journalFolder_isTheUsersDataFolder()
    {
        useToolDataFolder();
#ifdef Q_OS_WIN
        const QString base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
#else
        const QString base = qEnvironmentVariable("XDG_DATA_HOME");
#endif
        QVERIFY(!base.isEmpty());
        QCOMPARE(Journal::defaultFolder(), QDir::cleanPath(base + QStringLiteral("/tarvil-config")));
    }
};

QTEST_GUILESS_MAIN(DataPathsTest)
#include "tst_datapaths.moc"
