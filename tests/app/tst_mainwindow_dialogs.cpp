#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "support/DialogGuard.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace tarvil;
using tarvil::test::whenOpen;

namespace {

const PortChoiceRequest kPorts{QStringLiteral("Select Port"),
                               {QStringLiteral("The configured serial port is not valid."),
                                QStringLiteral("Please choose another port.")},
                               {{QStringLiteral("COM3"), QStringLiteral("USB Serial Device")},
                                {QStringLiteral("COM7"), QString()}}};

} // namespace

// A file dialog is driven as a user drives it: the name typed into its name
// field and its accept button pressed. Whether a programmatic selection takes
// depends on how far the dialog's file model has come.
void typeNameAndAccept(QFileDialog *dialog, const QString &name)
{
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!edit || !buttons) {
        qWarning("the file dialog has no name field or buttons");
        return;
    }
    // Pasted whole: typed key by key, the name field's completion would
    // extend a typed folder with a file name of its own.
    edit->setFocus();
    edit->setText(name);
    for (QAbstractButton *button : buttons->buttons()) {
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
}

class QtDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<tarvil::test::DialogGuard> guard_;
private slots:
    // Every test here opens real dialogs: none may be left waiting for input.
    void init() { guard_ = std::make_unique<tarvil::test::DialogGuard>(); }
    void cleanup()
    {
        const QStringList stuck = guard_->stuck();
        guard_.reset();
        QVERIFY2(stuck.isEmpty(), qPrintable(QStringLiteral("left open: ") + stuck.join(QStringLiteral(", "))));
    }

    void nameFilters_data()
    {
        QTest::addColumn<QString>("pipe");
        QTest::addColumn<QString>("qt");
        QTest::newRow("two entries") << "Конфигурация|*.tvc|Все файлы|*.*"
                                     << "Конфигурация (*.tvc);;Все файлы (*)";
        QTest::newRow("patterns already in the description")
            << "Файлы конфигурации (*.tvc)|*.tvc" << "Файлы конфигурации (*.tvc)";
        QTest::newRow("several patterns") << "Таблицы|*.txt;*.csv" << "Таблицы (*.txt *.csv)";
        QTest::newRow("no description") << "|*.tvc" << "*.tvc (*.tvc)";
        QTest::newRow("pattern missing") << "Конфигурация|*.tvc|Лишнее" << "Конфигурация (*.tvc)";
        QTest::newRow("empty") << "" << "";
    }
    void nameFilters()
    {
        QFETCH(QString, pipe);
        QFETCH(QString, qt);
        QCOMPARE(qtNameFilters(pipe), qt);
    }

    void messageBox_showsWhatWasAsked()
    {
        auto box = makeMessageBox({QStringLiteral("Ошибка при записи конфигурации"),
                                   QStringLiteral("Конфигурирование трансивера"), MsgIcon::Error,
                                   MsgButtons::Ok, true});
        QCOMPARE(box->text(), QStringLiteral("Ошибка при записи конфигурации"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Конфигурирование трансивера"));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);

        box = makeMessageBox({"?", "", MsgIcon::Warning, MsgButtons::YesNo, false});
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!(box->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(makeMessageBox({"", "", MsgIcon::Information, MsgButtons::OkCancel, false})->standardButtons(),
                 QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(makeMessageBox({"", "", MsgIcon::None, MsgButtons::Ok, false})->icon(), QMessageBox::NoIcon);
        QCOMPARE(makeMessageBox({"", "", MsgIcon::Question, MsgButtons::Ok, false})->icon(), QMessageBox::Question);
    }

    void message_answers()
    {
        QtDialogs dialogs;
        bool seen = false;
        whenOpen<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::No)->click(); }, &seen);
        QCOMPARE(dialogs.message({"?", "", MsgIcon::Warning, MsgButtons::YesNo, false}), MsgAnswer::No);
        QVERIFY(seen);

        whenOpen<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, &seen);
        QCOMPARE(dialogs.message({"?", "", MsgIcon::Warning, MsgButtons::YesNo, false}), MsgAnswer::Yes);

        // Escape (or the window's close button) gives the safe answer.
        whenOpen<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }, &seen);
        QCOMPARE(dialogs.message({"?", "", MsgIcon::Warning, MsgButtons::YesNo, false}), MsgAnswer::No);
        whenOpen<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }, &seen);
        QCOMPARE(dialogs.message({"?", "", MsgIcon::Information, MsgButtons::OkCancel, false}), MsgAnswer::Cancel);
        whenOpen<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }, &seen);
        QCOMPARE(dialogs.message({"!", "", MsgIcon::Error, MsgButtons::Ok, true}), MsgAnswer::Ok);
    }

    void inputText_offersTheValue()
    {
        QtDialogs dialogs;
        bool seen = false;
        QString title, label, offered;
        whenOpen<QInputDialog>([&](QInputDialog *dialog) {
            title = dialog->windowTitle();
            label = dialog->labelText();
            offered = dialog->textValue();
            dialog->setTextValue(QStringLiteral("10.0.0.7"));
            dialog->accept();
        }, &seen);
        const auto text = dialogs.inputText(QStringLiteral("Связь"), QStringLiteral("Адрес"), QStringLiteral("10.0.0.1"));
        QVERIFY(seen);
        QCOMPARE(title, QStringLiteral("Связь"));
        QCOMPARE(label, QStringLiteral("Адрес"));
        QCOMPARE(offered, QStringLiteral("10.0.0.1"));
        QVERIFY(text == QStringLiteral("10.0.0.7"));

        whenOpen<QInputDialog>([](QInputDialog *dialog) { dialog->reject(); }, &seen);
        QVERIFY(!dialogs.inputText("a", "b", "c").has_value());
    }

    void fileDialogs_honourTheRequest()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const FileDialogRequest request{QStringLiteral("Сохранить конфигурацию"), dir.filePath("object1"),
                                        QStringLiteral("Конфигурация|*.tvc|Все файлы|*.*"), QStringLiteral("tvc")};
        QtDialogs dialogs;
        bool seen = false;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QStringList filters;
        QString suffix, title;
        bool confirms = false;
        whenOpen<QFileDialog>([&](QFileDialog *dialog) {
            mode = dialog->acceptMode();
            filters = dialog->nameFilters();
            suffix = dialog->defaultSuffix();
            title = dialog->windowTitle();
            confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->reject();
        }, &seen);
        QVERIFY(!dialogs.saveFileName(request).has_value());
        QVERIFY(seen);
        QCOMPARE(mode, QFileDialog::AcceptSave);
        QCOMPARE(filters, QStringList({"Конфигурация (*.tvc)", "Все файлы (*)"}));
        QCOMPARE(suffix, QStringLiteral("tvc"));
        QCOMPARE(title, QStringLiteral("Сохранить конфигурацию"));
        QVERIFY(confirms);

        const QString existing = dir.filePath("stored.tvc");
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        whenOpen<QFileDialog>([&](QFileDialog *dialog) {
            mode = dialog->acceptMode();
            fileMode = dialog->fileMode();
            typeNameAndAccept(dialog, existing);
        }, &seen);
        const auto opened = dialogs.openFileName({QStringLiteral("Загрузить"), QString(), request.filter, "tvc"});
        QCOMPARE(mode, QFileDialog::AcceptOpen);
        QCOMPARE(fileMode, QFileDialog::ExistingFile);
        QVERIFY(opened.has_value());
        QCOMPARE(QFileInfo(*opened).canonicalFilePath(), QFileInfo(existing).canonicalFilePath());

        // A name typed into the save dialog comes back with the default suffix.
        whenOpen<QFileDialog>([&](QFileDialog *dialog) { typeNameAndAccept(dialog, dir.filePath("site7")); }, &seen);
        const auto saved = dialogs.saveFileName(request);
        QVERIFY(seen);
        QVERIFY(saved.has_value());
        QCOMPARE(QFileInfo(*saved).fileName(), QStringLiteral("site7.tvc"));

        // The dialogs' history lands in the test run's own settings folder,
        // never in the user's. (On Windows it goes to the registry: that of
        // the Wine prefix the build made for its tests.)
#ifndef Q_OS_WIN
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QVERIFY2(config.startsWith(QString::fromLocal8Bit(qgetenv("TARVIL_TEST_HOME"))), qPrintable(config));
#endif
    }

    void portChooser_listsAndReturnsTheChoice()
    {
        PortChooserDialog dialog(kPorts);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Select Port"));
        QStringList lines;
        for (QLabel *label : dialog.findChildren<QLabel *>())
            lines << label->text();
        QCOMPARE(lines, kPorts.lines);
        QComboBox *box = dialog.portBox();
        QVERIFY(box->isEditable());
        QCOMPARE(box->count(), 2);
        QVERIFY(box->itemText(0).contains(QStringLiteral("COM3")));
        QVERIFY(box->itemText(0).contains(QStringLiteral("USB Serial Device")));
        QCOMPARE(box->itemText(1), QStringLiteral("COM7"));
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(dialog.choice(), QStringLiteral("COM3"));
        box->setCurrentIndex(1);
        QCOMPARE(dialog.choice(), QStringLiteral("COM7"));

        QStringList buttons;
        for (QPushButton *button : dialog.findChildren<QPushButton *>())
            buttons << button->text();
        buttons.sort();
        QCOMPARE(buttons, QStringList({"Cancel", "OK"}));

        box->setEditText(QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(dialog.choice(), QStringLiteral("/dev/ttyACM0"));
        QVERIFY(dialog.okButton()->isEnabled());
        box->setEditText(QStringLiteral("  "));
        QVERIFY(!dialog.okButton()->isEnabled());
    }

    void choosePort_runsTheChooser()
    {
        QtDialogs dialogs;
        bool seen = false;
        whenOpen<PortChooserDialog>([](PortChooserDialog *dialog) {
            dialog->portBox()->setEditText(QStringLiteral("/dev/ttyUSB1"));
            dialog->okButton()->click();
        }, &seen);
        QVERIFY(dialogs.choosePort(kPorts) == QStringLiteral("/dev/ttyUSB1"));
        QVERIFY(seen);

        whenOpen<PortChooserDialog>([](PortChooserDialog *dialog) { dialog->okButton()->click(); }, &seen);
        QVERIFY(dialogs.choosePort(kPorts) == QStringLiteral("COM3"));

        whenOpen<PortChooserDialog>([](PortChooserDialog *dialog) { dialog->reject(); }, &seen);
        QVERIFY(!dialogs.choosePort(kPorts).has_value());
    }

    // Without an adapter of its own the window asks its close question in a real box.
    void windowOwnDialogs_askTheCloseQuestion()
    {
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.01);
        config.localPort = tarvil::test::udpPort();
        config.remotePort = quint16(tarvil::test::udpPort() + 1);
        TA_Form window(nullptr, config);
        QVERIFY(dynamic_cast<QtDialogs *>(&window.dialogs()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        bool seen = false;
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        whenOpen<QMessageBox>([&](QMessageBox *box) {
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(QMessageBox::No)->click();
        }, &seen);
        QVERIFY(!window.close());
        QVERIFY(seen);
        QCOMPARE(text, QStringLiteral("Завершить работу приложения?"));
        QCOMPARE(title, QStringLiteral("Завершение работы"));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(window.isVisible());

        whenOpen<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, &seen);
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(QtDialogsTest)
#include "tst_mainwindow_dialogs.moc"
