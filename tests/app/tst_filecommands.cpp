// "Сохранить" and "Загрузить" through the real main window.
#include "support/FakeLinkView.h"
#include "support/ToolRig.h"

#include "files/ConfigFile.h"
#include "link/Links.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString countText(const ToolRig &rig) { return rig.find<QLabel>("ObjCountLbl")->text(); }

} // namespace

class FileCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void save_withoutSerialNumber_asksNothing()
    {
        ToolRig rig;
        rig.action("ItemSave")->trigger();
        QCOMPARE(rig.dialogs.saveRequests.size(), 0);
        QCOMPARE(rig.dialogs.messages.value(0), (UserMessage{"Не определен заводской номер", "Конфигурирование",
                                                             MsgIcon::Error, MsgButtons::Ok, false}));
    }

    // The file is named as installers name them, in Cyrillic; the second
    // window is started with it, as a double click on the file does.
    void saveThenLoad_restoresAFullConfiguration()
    {
        const QString path = [] {
            static QTemporaryDir keep;
            return keep.filePath(QStringLiteral("Склад №5 (12345).tvc"));
        }();
        CommonSettings s = validSettings();
        {
            ToolRig rig;
            rig.typeSettings(s);
            rig.addRows(sampleRows(300));
            rig.dialogs.saveNames.enqueue(path);
            rig.action("ItemSave")->trigger();
            QCOMPARE(rig.dialogs.saveRequests.size(), 1);
            const FileDialogRequest request = rig.dialogs.saveRequests.at(0);
            QCOMPARE(request.proposedName, QStringLiteral("12345"));
            QCOMPARE(request.defaultSuffix, QStringLiteral("tvc"));
            QCOMPARE(request.filter, QStringLiteral("Файлы трансивера \"Тарвил-QZT\"|*.tvc|Все файлы|*.*"));
            QVERIFY(rig.dialogs.messages.isEmpty());
            QCOMPARE(readFile(path).size(), 85224);
            // No link: the commands that need one stay locked.
            QVERIFY(rig.action("ItemLoad")->isEnabled() && rig.action("ItemSave")->isEnabled());
            QVERIFY(!rig.action("ItemWr")->isEnabled() && !rig.action("ItemRead")->isEnabled());
        }
        ToolRig rig;
        rig.window->loadFile(path);
        QVERIFY(rig.dialogs.messages.isEmpty());
        QVERIFY(rig.dialogs.openRequests.isEmpty());
        QCOMPARE(rig.window->commonSettings(), s);
        const QList<ObjectRow> rows = rig.window->objectRows();
        QCOMPARE(rows.size(), 300);
        QCOMPARE(rows.first().Obj, QStringLiteral("0001"));
        QCOMPARE(rows.first().P1, sampleRows(300).last().P1);
        QCOMPARE(countText(rig), QStringLiteral("Количество объектов 300"));
        QVERIFY(rig.find<QWidget>("LocLAN")->isVisible()); // DHCP off
        // The next LAN connect offers the file's own address.
        rig.chooseLan();
        QCOMPARE(rig.dialogs.prompts.value(0).value, s.ownIp);
    }

    void load_refusesAForeignFile_andKeepsEverything()
    {
        ToolRig rig;
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(2));
        const QString path = rig.folder.filePath(QStringLiteral("other.tvc"));
        writeFile(path, QByteArray("TranzP") + QByteArray(600, '\x3B'));
        rig.dialogs.openNames.enqueue(path);
        rig.action("ItemLoad")->trigger();
        QCOMPARE(rig.dialogs.messages.value(0), (UserMessage{"Формат файла не соответствует типу устройства!",
                                                             "Загрузка конфигурации", MsgIcon::Warning,
                                                             MsgButtons::YesNo, false}));
        QCOMPARE(rig.window->objectRows().size(), 2);
        QCOMPARE(rig.window->commonSettings(), validSettings());
        QVERIFY(countText(rig).isEmpty());

        rig.dialogs.openNames.enqueue(rig.folder.filePath(QStringLiteral("missing.tvc")));
        rig.action("ItemLoad")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 2);
        QCOMPARE(rig.dialogs.messages.at(1).text, QStringLiteral("Формат файла не соответствует типу устройства!"));
        // Started with the file, the tool says the same and keeps the same.
        rig.window->loadFile(path);
        QCOMPARE(rig.dialogs.messages.size(), 3);
        QCOMPARE(rig.dialogs.messages.at(2), rig.dialogs.messages.at(0));
        QCOMPARE(rig.window->objectRows().size(), 2);
    }

    void load_ofAFileEndingInsideAField_changesNothing()
    {
        ToolRig rig;
        ConfigImage source;
        CommonSettings other = validSettings();
        other.serial = QStringLiteral("777");
        other.ownIp = QStringLiteral("10.1.1.1");
        QVERIFY(source.build(other, sampleRows(5)));
        PacketList packets;
        packets.buildFrom(source);
        const QByteArray whole = serializeConfigFile(packets);
        const QString path = rig.folder.filePath(QStringLiteral("cut.tvc"));
        writeFile(path, whole.left(12 + 6 * (commonAddress(CommonField::Apn) + 10)));

        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(3));
        const QByteArray imageBefore = rig.builtImage();
        rig.dialogs.openNames.enqueue(path);
        rig.action("ItemLoad")->trigger();
        QCOMPARE(rig.dialogs.messages.value(0), (UserMessage{"Возникла фатальная ошибка. Часть данных не загружена.",
                                                             "Загрузка конфигурации", MsgIcon::Error,
                                                             MsgButtons::Ok, false}));
        QCOMPARE(rig.window->commonSettings(), validSettings());
        QCOMPARE(rig.window->objectRows().size(), 3);
        QCOMPARE(rig.builtImage(), imageBefore);
        QCOMPARE(countText(rig), QStringLiteral("Количество объектов 3"));
        rig.chooseLan();
        QCOMPARE(rig.dialogs.prompts.value(0).value, QStringLiteral("192.168.1.221"));
    }

    void load_ofHeadersOnly_rebuildsTheTableFromTheImage()
    {
        ToolRig rig;
        rig.typeSettings(validSettings());
        const QString path = rig.folder.filePath(QStringLiteral("empty.tvc"));
        writeFile(path, QByteArray("TransP") + QByteArray(6, 'x'));
        rig.dialogs.openNames.enqueue(path);
        rig.action("ItemLoad")->trigger();
        QVERIFY(rig.dialogs.messages.isEmpty());
        QCOMPARE(rig.window->commonSettings(), validSettings());
        QCOMPARE(countText(rig), QStringLiteral("Количество объектов 0"));
    }

    void save_toAnUnwritablePlace_saysSo_andARefusedSaveLeavesTheFileAlone()
    {
        ToolRig rig;
        rig.typeSettings(validSettings());
        const QString bad = rig.folder.filePath(QStringLiteral("no/such/folder/x.tvc"));
        rig.dialogs.saveNames.enqueue(bad);
        rig.action("ItemSave")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).caption, QStringLiteral("Конфигурирование"));
        QCOMPARE(rig.dialogs.messages.at(0).icon, MsgIcon::Error);
        QVERIFY(rig.dialogs.messages.at(0).text.contains(bad));
        QVERIFY(rig.action("ItemSave")->isEnabled() && rig.action("ItemLoad")->isEnabled());

        const QString path = rig.folder.filePath(QStringLiteral("keep.tvc"));
        writeFile(path, "old contents");
        rig.find<QLineEdit>("EditAPN")->clear();
        rig.dialogs.saveNames.enqueue(path);
        rig.action("ItemSave")->trigger();
        QCOMPARE(rig.dialogs.messages.last().text, QStringLiteral("Не определен APN GPRS - канала"));
        QCOMPARE(readFile(path), QByteArray("old contents"));

        // No save target is left behind: the next write goes to the transceiver.
        QVERIFY(rig.connectLan());
        rig.find<QLineEdit>("EditAPN")->setText(QStringLiteral("apn"));
        QVERIFY(rig.write().done());
        QCOMPARE(rig.lan.writesCompleted(), 1);
        QCOMPARE(readFile(path), QByteArray("old contents"));
    }

    // A save that cannot go through a temporary file beside the target never
    // writes over the old file: the failure box names it, the file stays whole.
    void save_withoutRoomForATemporaryFile_saysSo_andKeepsTheOldFile()
    {
        ToolRig rig;
        rig.typeSettings(validSettings());
        const QString path = rig.folder.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".tvc"));
        writeFile(path, "old contents");
        rig.dialogs.saveNames.enqueue(path);
        rig.action("ItemSave")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages.at(0).text.startsWith(
            QStringLiteral("Не удалось сохранить конфигурацию в файл \"%1\": ").arg(path)));
        QCOMPARE(rig.dialogs.messages.at(0).icon, MsgIcon::Error);
        QCOMPARE(readFile(path), QByteArray("old contents"));
        QVERIFY(rig.action("ItemSave")->isEnabled() && rig.action("ItemLoad")->isEnabled());
    }
};

QTEST_MAIN(FileCommandsTest)
#include "tst_filecommands.moc"
