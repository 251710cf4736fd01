// Every box, prompt and chooser line shows its text as written: catalogue
// lines and file names that look like markup are not rendered as markup.
#include "app/QtDialogs.h"
#include "support/DialogGuard.h"

#include <QAccessible>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace tarvil;
using tarvil::test::whenOpen;

namespace {

// What a label holds and what it shows: the text as it reads on screen (and
// to a screen reader), with markup rendered and mnemonic ampersands taken out.
struct Shown {
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    QString onScreen;
};

Shown shownBy(QLabel *label)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(label);
    return {label->textFormat(), label->text(), accessible ? accessible->text(QAccessible::Name) : QString()};
}

QLabel *textLabelOf(QMessageBox *box) { return box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")); }

} // namespace

class PlainTextTest : public QObject {
    Q_OBJECT
private slots:
    // Every test below runs once for each of these texts.
    void initTestCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("catalogue line with a bold tag") << QStringLiteral("'<b>12</b>' is not a valid integer value");
        QTest::newRow("file name with markup")
            << QStringLiteral("Не удалось сохранить конфигурацию в файл \"/tmp/<i>x</i>.tvc\": Permission denied");
        QTest::newRow("a whole document") << QStringLiteral("<html><h1>Big</h1></html>");
        QTest::newRow("entity") << QStringLiteral("Type &amp; <br> Co");
    }

    void messageBox_made_isPlainText()
    {
        QFETCH_GLOBAL(QString, text);
        const auto box = makeMessageBox({text, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false});
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), text);
        box->show();
        const Shown shown = shownBy(textLabelOf(box.get()));
        QCOMPARE(shown.format, Qt::PlainText);
        QCOMPARE(shown.text, text);
        QCOMPARE(shown.onScreen, text);
    }

    void messageBox_shownByTheAdapter_isPlainText()
    {
        QFETCH_GLOBAL(QString, text);
        QtDialogs dialogs;
        bool seen = false;
        Shown shown;
        whenOpen<QMessageBox>([&](QMessageBox *box) {
            shown = shownBy(textLabelOf(box));
            box->button(QMessageBox::Ok)->click();
        }, &seen);
        QCOMPARE(dialogs.message({text, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false}),
                 MsgAnswer::Ok);
        QVERIFY(seen);
        QCOMPARE(shown.format, Qt::PlainText);
        QCOMPARE(shown.text, text);
        QCOMPARE(shown.onScreen, text);
    }

    void inputPrompt_isPlainText_andStillAnswers()
    {
        QFETCH_GLOBAL(QString, text);
        QtDialogs dialogs;
        bool seen = false;
        QList<Shown> labels;
        QString offered;
        whenOpen<QInputDialog>([&](QInputDialog *dialog) {
            for (QLabel *label : dialog->findChildren<QLabel *>())
                labels << shownBy(label);
            offered = dialog->textValue();
            dialog->setTextValue(QStringLiteral("10.0.0.7"));
            dialog->accept();
        }, &seen);
        const auto answer = dialogs.inputText(QStringLiteral("Связь"), text, QStringLiteral("<b>1</b>"));
        QVERIFY(seen);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.at(0).format, Qt::PlainText);
        QCOMPARE(labels.at(0).text, text);
        QCOMPARE(labels.at(0).onScreen, text);
        QCOMPARE(offered, QStringLiteral("<b>1</b>"));
        QVERIFY(answer == QStringLiteral("10.0.0.7"));
    }

    void portChooserLines_arePlainText()
    {
        QFETCH_GLOBAL(QString, text);
        const PortChoiceRequest request{QStringLiteral("Select Port"), {text, QStringLiteral("<u>second</u>")},
                                        {{QStringLiteral("COM3"), QStringLiteral("<b>USB</b>")}}};
        PortChooserDialog dialog(request);
        dialog.show();
        QStringList lines;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            const Shown shown = shownBy(label);
            QCOMPARE(shown.format, Qt::PlainText);
            QCOMPARE(shown.onScreen, shown.text);
            lines << shown.text;
        }
        QCOMPARE(lines, request.lines);
    }
};

QTEST_MAIN(PlainTextTest)
#include "tst_plaintext.moc"
