#include "model/Codepage.h"
#include "model/PanelTypeCatalogue.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace tarvil;

namespace {

QByteArray cp1251Bytes(const char *utf8)
{
    return cp1251::encode(QString::fromUtf8(utf8));
}

QStringList names(const PanelTypeCatalogue &catalogue)
{
    QStringList out;
    for (const PanelType &row : catalogue.rows())
        out.append(row.N_PPK);
    return out;
}

constexpr qsizetype kLine = 128;

// Line i of the generated catalogue: kLine bytes with their CR LF.
QByteArray line(int i)
{
    QByteArray text = QByteArray::number(i % 10000).rightJustified(4, '0') + ";T;1;0;";
    return text.leftJustified(kLine - 2, 'x') + "\r\n";
}

// Exactly kMaxCatalogueBytes of lines, made once.
const QByteArray &fullCatalogue()
{
    static const QByteArray bytes = [] {
        QByteArray out;
        out.reserve(kMaxCatalogueBytes);
        for (int i = 0; out.size() < kMaxCatalogueBytes; ++i)
            out += line(i);
        return out;
    }();
    return bytes;
}

} // namespace

class CatalogueTest : public QObject {
    Q_OBJECT
private slots:
    void twoLines_loadInOrderFirstCurrentFilterOff()
    {
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes("1;Type A;1;0\r\n2;Type B;2;1"), QString());
        QCOMPARE(c.count(), 2);
        QCOMPARE(c.rows().at(0), (PanelType{1, QStringLiteral("Type A"), 1, 0}));
        QCOMPARE(c.rows().at(1), (PanelType{2, QStringLiteral("Type B"), 2, 1}));
        QCOMPARE(c.currentIndex(), 0);
        QVERIFY(!c.isFilterOn());
    }

    void sampleFile_decodesCodePage1251()
    {
        PanelTypeCatalogue c;
        QCOMPARE(c.LoadCatalogue(test::dataDir() + QStringLiteral("/CentralType.txt")), QString());
        QVERIFY(c.count() >= 10);
        QCOMPARE(c.rows().at(1).TypeId, std::int16_t(1));
        QCOMPARE(c.rows().at(1).N_PPK, QStringLiteral("Охранный ППК-4"));
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("error");
        const QStringList ab{QStringLiteral("A"), QStringLiteral("B")};
        QTest::newRow("CR LF") << QByteArray("1;A;1;0\r\n2;B;1;0\r\n") << ab << QString();
        QTest::newRow("CR alone") << QByteArray("1;A;1;0\r2;B;1;0\r") << ab << QString();
        QTest::newRow("last line without end") << QByteArray("1;A;1;0\r\n2;B;1;0") << ab << QString();
        QTest::newRow("mixed CR and CR LF") << QByteArray("1;A;1;0\r2;B;1;0\r\n") << ab << QString();
        QTest::newRow("empty lines skipped") << QByteArray("\r\n1;A;1;0\r\n\r\n\r2;B;1;0\r\n\r\n") << ab << QString();
        QTest::newRow("0x1A ends the file") << QByteArray("1;A;1;0\r\n2;B;1;0\x1A\r\n3;C;1;0\r\n") << ab
                                            << QString();
        QTest::newRow("0x1A inside a line") << QByteArray("1;A;1;0\r\n2;B;1;0\r\n3;C\x1A;1;0") << ab
                                            << QStringLiteral("'' is not a valid integer value");
        // LF alone is no line end: the whole file is one line whose A_F reads
        // "0\n2", and that is no number.
        QTest::newRow("LF alone is one line") << QByteArray("1;A;1;0\n2;B;1;0") << QStringList()
                                              << QStringLiteral("'0\n2' is not a valid integer value");
        QTest::newRow("LF alone before the end") << QByteArray("1;A;1;0\n") << QStringList{QStringLiteral("A")}
                                                 << QString();
        QTest::newRow("empty file") << QByteArray() << QStringList() << QString();
    }
    void lineEnds()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QFETCH(QString, error);
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes(content), error);
        QCOMPARE(names(c), expected);
        QCOMPARE(c.currentIndex(), expected.isEmpty() ? -1 : 0);
    }

    void badLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("two separators") << QByteArray("3;Type E;1") << QStringLiteral("'' is not a valid integer value");
        QTest::newRow("no separator") << QByteArray("abc") << QStringLiteral("'abc' is not a valid integer value");
        QTest::newRow("empty A_F") << QByteArray("3;Type E;1;") << QStringLiteral("'' is not a valid integer value");
        QTest::newRow("letter in TypeId") << QByteArray("3x;Type E;1;0") << QStringLiteral("'3x' is not a valid integer value");
        QTest::newRow("letter in Prot") << QByteArray("3;Type E;p;0") << QStringLiteral("'p' is not a valid integer value");
        QTest::newRow("sign alone") << QByteArray("-;Type E;1;0") << QStringLiteral("'-' is not a valid integer value");
        QTest::newRow("TypeId too large")
            << QByteArray("40000;Type E;1;0")
            << QStringLiteral("40000 is not a valid value for field 'TypeId'. The allowed range is -32768 to 32767");
        QTest::newRow("Prot too small")
            << QByteArray("3;Type E;-32769;0")
            << QStringLiteral("-32769 is not a valid value for field 'Prot'. The allowed range is -32768 to 32767");
        QTest::newRow("A_F of seven digits, shown whole")
            << QByteArray("3;Type E;1;1234567")
            << QStringLiteral("1234567 is not a valid value for field 'A_F'. The allowed range is -32768 to 32767");
        QTest::newRow("TypeId of seven digits, shown whole")
            << QByteArray("1234567;Type E;1;0")
            << QStringLiteral("1234567 is not a valid value for field 'TypeId'. The allowed range is -32768 to 32767");
        QTest::newRow("smallest 32-bit value, shown whole")
            << QByteArray("3;Type E;-2147483648;0")
            << QStringLiteral("-2147483648 is not a valid value for field 'Prot'. The allowed range is -32768 to 32767");
        QTest::newRow("beyond 32 bits") << QByteArray("99999999999;Type E;1;0")
                                        << QStringLiteral("'99999999999' is not a valid integer value");
        QTest::newRow("code page text quoted") << cp1251Bytes("3;Тип;один;0") << QStringLiteral("'один' is not a valid integer value");
    }
    void badLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, error);
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes("1;Type A;1;0\r\n2;Type B;2;1\r\n" + line + "\r\n4;Type F;1;0\r\n"), error);
        // The rows before the bad line stay; the lines after it are not read.
        QCOMPARE(names(c), (QStringList{QStringLiteral("Type A"), QStringLiteral("Type B")}));
        QCOMPARE(c.currentIndex(), 0);
    }

    void boundaryValues_load()
    {
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes("-32768;Min;32767;+5\r\n 7 ;  spaced  ; 2 ;\t3\t"), QString());
        QCOMPARE(c.rows().at(0), (PanelType{-32768, QStringLiteral("Min"), 32767, 5}));
        // Blanks around a number are allowed; the name keeps its blanks.
        QCOMPARE(c.rows().at(1), (PanelType{7, QStringLiteral("  spaced  "), 2, 3}));
    }

    void fourthField_readWhole_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("af");
        QTest::newRow("longer than Prot") << QByteArray("1;Type A;1;23") << 23;
        QTest::newRow("trailing separator") << QByteArray("1;Type A;1;0;") << 0;
        QTest::newRow("text after a separator") << QByteArray("1;Type A;12;7;comment;more") << 7;
        QTest::newRow("negative") << QByteArray("1;Type A;1;-300") << -300;
    }
    void fourthField_readWhole()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, af);
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes(line), QString());
        QCOMPARE(c.count(), 1);
        QCOMPARE(int(c.rows().at(0).A_F), af);
    }

    void longName_cutTo20()
    {
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes(cp1251Bytes("1;Очень длинное имя типа ППК;1;0")), QString());
        QCOMPARE(c.rows().at(0).N_PPK, QStringLiteral("Очень длинное имя ти"));
    }

    // Only a regular file is read; anything else of that name counts as a
    // missing file. A FIFO would block the start until a writer came.
    void notARegularFile_emptyWithoutError_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("folder") << "folder";
#ifdef Q_OS_UNIX
        QTest::newRow("FIFO without a writer") << "fifo";
        QTest::newRow("link to an endless device") << "device";
#endif
    }
    void notARegularFile_emptyWithoutError()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("CentralType.txt"));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("CentralType.txt")));
#ifdef Q_OS_UNIX
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        if (kind == QLatin1String("device"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
#endif
        PanelTypeCatalogue c;
        c.loadFromBytes("1;A;1;0");
        QCOMPARE(c.LoadCatalogue(path), QString());
        QCOMPARE(c.count(), 0);
        QVERIFY(!c.hasCurrent());
        QCOMPARE(c.current(), PanelType{});
    }

    // The file is read a piece at a time; a CR LF wherever it falls ends one
    // line, and the next line starts after the LF.
    void crLfAtAnyOffset_endsOneLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("CentralType.txt"));
        for (qsizetype size : {qsizetype(4096), qsizetype(16384), qsizetype(65536), qsizetype(131072)}) {
            for (qsizetype at = size - 2; at <= size + 1; ++at) {
                // The CR at offset `at`, the LF after it.
                QByteArray content = "1;" + QByteArray(at - 6, 'n') + ";1;0";
                content += "\r\nbad\r\n";
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(content);
                file.close();
                PanelTypeCatalogue c;
                QCOMPARE(c.LoadCatalogue(path), QStringLiteral("'bad' is not a valid integer value"));
                QCOMPARE(c.count(), 1);
            }
        }
    }

    // 131 072 lines of 128 bytes fill the limit exactly.
    void sizeLimit_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("error");
        const int full = int(kMaxCatalogueBytes / kLine);
        const QString stopped = QStringLiteral("Файл CentralType.txt больше 16 МБ (16777216 байт): "
                                               "загрузка остановлена на строке %1.");
        QTest::newRow("exactly the limit: every row") << QByteArray() << QByteArray() << full << QString();
        QTest::newRow("one line more: stops there") << QByteArray() << line(full) << full
                                                    << stopped.arg(full + 1);
        QTest::newRow("one byte more") << QByteArray() << QByteArray("7") << full << stopped.arg(full + 1);
        // 32 empty lines push the last line across the limit.
        QTest::newRow("a line across the limit is not loaded")
            << QByteArray("\r\n").repeated(32) << QByteArray() << full - 1 << stopped.arg(32 + full);
        QTest::newRow("0x1A at the limit ends the file quietly") << QByteArray() << QByteArray("\x1A" "garbage")
                                                                 << full << QString();
    }
    void sizeLimit()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, rows);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("CentralType.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
        file.write(fullCatalogue().left(kMaxCatalogueBytes - before.size()));
        if (!before.isEmpty()) // the rest of the last line, beyond the limit
            file.write(fullCatalogue().right(before.size()));
        file.write(after);
        file.close();

        PanelTypeCatalogue c;
        QCOMPARE(c.LoadCatalogue(file.fileName()), error);
        QCOMPARE(c.count(), rows);
        QCOMPARE(c.rows().last(), (PanelType{std::int16_t((rows - 1) % 10000), QStringLiteral("T"), 1, 0}));
        QCOMPARE(c.currentIndex(), 0);
        // The same bytes in memory take the same way.
        file.open(QIODevice::ReadOnly);
        QCOMPARE(c.loadFromBytes(file.readAll()), error);
        QCOMPARE(c.count(), rows);
    }

    void fileOnDisk_isRead()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("CentralType.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(cp1251Bytes("5;Тип C;1;0\r\n5;Тип D;1;0\r\n"));
        file.close();
        PanelTypeCatalogue c;
        QCOMPARE(c.LoadCatalogue(file.fileName()), QString());
        QCOMPARE(names(c), (QStringList{QStringLiteral("Тип C"), QStringLiteral("Тип D")}));
    }

    void findPanelTypeName_firstMatchInFileOrder()
    {
        PanelTypeCatalogue c;
        c.loadFromBytes("5;Type C;1;0\r\n5;Type D;1;0\r\n7; Padded ;1;0");
        QCOMPARE(c.FindPanelTypeName(5), QStringLiteral("Type C"));
        QCOMPARE(c.FindPanelTypeName(6), QStringLiteral("Тип ППК не определен"));
        QCOMPARE(c.FindPanelTypeName(7), QStringLiteral(" Padded ")); // as stored
        QCOMPARE(c.FindPanelTypeName(70000), QStringLiteral("Тип ППК не определен"));
        PanelTypeCatalogue empty;
        QCOMPARE(empty.FindPanelTypeName(0), QStringLiteral("Тип ППК не определен"));
    }

    void filter_trimsBlanksAndKeepsCase()
    {
        PanelTypeCatalogue c;
        c.loadFromBytes("1;Type A;1;0\r\n2; Type B\t;2;1\r\n3;type b;3;2\r\n4;Type B;4;3");
        c.next();
        c.next();
        QCOMPARE(c.currentIndex(), 2);
        c.refreshFilter(QStringLiteral("  Type B "));
        QCOMPARE(c.currentIndex(), 2); // the filter is still off
        c.setFilterOn(true);
        QCOMPARE(c.currentIndex(), 1); // first visible
        QVERIFY(c.CntTblFilterRecord(1));
        QVERIFY(!c.CntTblFilterRecord(2)); // letter case counts
        QVERIFY(c.CntTblFilterRecord(3));
        QCOMPARE(c.currentName(), QStringLiteral(" Type B\t"));
        QVERIFY(!c.canPrior());
        QVERIFY(c.next());
        QCOMPARE(c.currentIndex(), 3); // steps over the hidden row
        QVERIFY(!c.next());

        // Refreshing keeps a current row that stays visible...
        c.refreshFilter(QStringLiteral("Type B"));
        QCOMPARE(c.currentIndex(), 3);
        // ...and otherwise falls to the first visible one, or to none.
        c.refreshFilter(QStringLiteral("Type A"));
        QCOMPARE(c.currentIndex(), 0);
        c.refreshFilter(QStringLiteral("Тип ППК не определен"));
        QVERIFY(!c.hasCurrent());
        QCOMPARE(c.current(), PanelType{});
        QVERIFY(!c.prior() && !c.next());

        c.setFilterOn(false);
        QCOMPARE(c.currentIndex(), 0);
    }

    void filter_sameStateChangesNothing()
    {
        PanelTypeCatalogue c;
        c.loadFromBytes("1;Type A;1;0\r\n2;Type A;2;1\r\n3;Type C;3;2");
        c.next();
        c.next();
        c.setFilterOn(false);
        QCOMPARE(c.currentIndex(), 2);
        c.refreshFilter(QStringLiteral("Type A"));
        c.setFilterOn(true);
        c.next();
        QCOMPARE(c.currentIndex(), 1);
        QSignalSpy spy(&c, &PanelTypeCatalogue::changed);
        c.setFilterOn(true);
        QCOMPARE(c.currentIndex(), 1);
        QCOMPARE(spy.count(), 0);
    }

    void arbitraryBytes_loadOrStopWithError()
    {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 20; ++round) {
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            for (char &b : bytes) {
                // Plenty of separators and line ends among the noise.
                const quint32 r = random.bounded(256);
                b = r < 24 ? ';' : r < 32 ? '\r' : r < 40 ? '0' + char(r % 10) : char(r);
            }
            PanelTypeCatalogue c;
            const QString error = c.loadFromBytes(bytes);
            for (const PanelType &row : c.rows())
                QVERIFY(row.N_PPK.size() <= 20);
            QVERIFY(c.count() == 0 || c.currentIndex() == 0);
            const int loaded = c.count();
            // Without an error the loader read to the end (or to 0x1A); with
            // one it read nothing after the bad line.
            const QString after = c.loadFromBytes(bytes + "\r\nbad\r\n5;X;1;0");
            if (!error.isEmpty() || bytes.contains('\x1A')) {
                QCOMPARE(after, error);
                QCOMPARE(c.count(), loaded);
            } else {
                QCOMPARE(after, QStringLiteral("'bad' is not a valid integer value"));
                QCOMPARE(c.count(), loaded);
            }
        }
    }

    void longLine_errorQuotesAShortText()
    {
        QByteArray line(8 * 1024 * 1024, '7');
        line.append(";Name;1;0");
        PanelTypeCatalogue c;
        const QString error = c.loadFromBytes("1;A;1;0\r\n" + line);
        QVERIFY(error.startsWith(QStringLiteral("'7777")));
        QVERIFY(error.endsWith(QStringLiteral("...' is not a valid integer value")));
        QVERIFY(error.size() < 120);
        QCOMPARE(c.count(), 1);

        QByteArray longName = "2;" + QByteArray(4 * 1024 * 1024, 'n') + ";3;4";
        QCOMPARE(c.loadFromBytes(longName), QString());
        QCOMPARE(c.rows().at(0), (PanelType{2, QString(20, QLatin1Char('n')), 3, 4}));
    }

    void millionLines_allLoaded()
    {
        QByteArray content;
        const int lines = 1000000;
        content.reserve(lines * 16);
        for (int i = 0; i < lines; ++i) {
            content.append(QByteArray::number(i % 30000));
            content.append(";T");
            content.append(QByteArray::number(i % 97));
            content.append(";1;0\r\n");
        }
        PanelTypeCatalogue c;
        QCOMPARE(c.loadFromBytes(content), QString());
        QCOMPARE(c.count(), lines);
        QCOMPARE(c.rows().last(), (PanelType{std::int16_t((lines - 1) % 30000), QStringLiteral("T%1").arg((lines - 1) % 97), 1, 0}));
        QCOMPARE(c.FindPanelTypeName(29999), QStringLiteral("T%1").arg(29999 % 97));

        content.append("bad");
        QCOMPARE(c.loadFromBytes(content), QStringLiteral("'bad' is not a valid integer value"));
        QCOMPARE(c.count(), lines);
    }
};

QTEST_GUILESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
