#include "app/KeyFilters.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace tarvil;

namespace {

QString allowed(KeyPressHandler filter)
{
    QString passed;
    for (int code = 0; code < 256; ++code) {
        QChar key = QChar(char16_t(code));
        filter(key);
        if (!key.isNull()) {
            if (key != QChar(char16_t(code)))
                return QStringLiteral("changed %1").arg(code);
            passed += key;
        }
    }
    return passed;
}

// What the platform sends for a key: the key code, its modifiers, its text.
void press(QLineEdit *edit, int key, Qt::KeyboardModifiers modifiers, const QString &text)
{
    QKeyEvent down(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(edit, &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(edit, &up);
}

} // namespace

class KeyFiltersTest : public QObject {
    Q_OBJECT
private slots:
    // The four sets over every 8-bit code: backspace and exactly the listed characters.
    void characterSets()
    {
        const QString backspace(QChar(char16_t(8)));
        QCOMPARE(allowed(EditMACKeyPress), backspace + QStringLiteral("0123456789"));
        QCOMPARE(allowed(EditIP1_PCNKeyPress), backspace + QStringLiteral(".0123456789"));
        QCOMPARE(allowed(P1KeyPress), backspace + QStringLiteral("+0123456789"));
        QCOMPARE(allowed(ObjIdKeyPress), backspace + QStringLiteral("0123456789ABCDEF"));
    }

    void lettersBeyondLatin1_refused()
    {
        for (KeyPressHandler filter : {EditMACKeyPress, EditIP1_PCNKeyPress, P1KeyPress, ObjIdKeyPress}) {
            for (char16_t code : {u'А', u'В', u'С', u'Е', u'\u0660', u'\uFF10'}) {
                QChar key(code);
                filter(key);
                QVERIFY(key.isNull());
            }
        }
    }

    void typing_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("digits") << 0 << "1a2-3 4+5.6" << "123456";
        QTest::newRow("IPv4") << 1 << "192.168,1.x1 -" << "192.1681.1";
        QTest::newRow("phone") << 2 << "+7 (912) 345-67" << "+791234567";
        QTest::newRow("hexadecimal capitals only") << 3 << "aAbBfFgG09-" << "ABF09";
    }
    void typing()
    {
        QFETCH(int, filter);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        const KeyPressHandler filters[] = {EditMACKeyPress, EditIP1_PCNKeyPress, P1KeyPress, ObjIdKeyPress};
        QLineEdit edit;
        KeyFilter::install(&edit, filters[filter]);
        QTest::keyClicks(&edit, typed);
        QCOMPARE(edit.text(), shown);
    }

    void backspaceAndDelete_work()
    {
        QLineEdit edit;
        KeyFilter::install(&edit, EditIP1_PCNKeyPress);
        QTest::keyClicks(&edit, "10.0.0.1");
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("10.0.0."));
        QTest::keyClick(&edit, Qt::Key_Home);
        // Delete as X11 sends it, with a DEL character for its text.
        press(&edit, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
        QCOMPARE(edit.text(), QStringLiteral("0.0.0."));
    }

    void enterAndOtherControlCharacters_refused()
    {
        QLineEdit edit;
        KeyFilter::install(&edit, EditMACKeyPress);
        QSignalSpy returned(&edit, &QLineEdit::returnPressed);
        QTest::keyClicks(&edit, "12");
        QTest::keyClick(&edit, Qt::Key_Return);
        QTest::keyClick(&edit, Qt::Key_Enter);
        press(&edit, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
        press(&edit, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\x07"));
        QCOMPARE(returned.count(), 0);
        QCOMPARE(edit.text(), QStringLiteral("12"));
    }

    // AltGr (Ctrl+Alt on Windows) types characters; they are filtered like any other.
    void altGrCharacters_filtered()
    {
        QLineEdit edit;
        KeyFilter::install(&edit, EditIP1_PCNKeyPress);
        press(&edit, Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("@"));
        press(&edit, Qt::Key_8, Qt::AltModifier, QStringLiteral("["));
        QCOMPARE(edit.text(), QString());
        press(&edit, Qt::Key_1, Qt::AltModifier, QStringLiteral("1"));
        QCOMPARE(edit.text(), QStringLiteral("1"));
    }

    void typedLength_isLimited_programText_isNot()
    {
        QLineEdit edit;
        KeyFilter::install(&edit, EditMACKeyPress, 5);
        QTest::keyClicks(&edit, "1234567");
        QCOMPARE(edit.text(), QStringLiteral("12345"));
        // A selection is replaced, so the limit still lets a digit in.
        edit.selectAll();
        QTest::keyClicks(&edit, "9");
        QCOMPARE(edit.text(), QStringLiteral("9"));

        edit.setText(QStringLiteral("4294967295"));
        QCOMPARE(edit.text(), QStringLiteral("4294967295"));
        QTest::keyClick(&edit, Qt::Key_End);
        QTest::keyClicks(&edit, "1");
        QCOMPARE(edit.text(), QStringLiteral("4294967295"));
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("429496729"));
    }

    void paste_passesUnfiltered()
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("12-ab 345678"));
        if (clipboard->text() != QStringLiteral("12-ab 345678"))
            QSKIP("No clipboard on this platform");
        QLineEdit edit;
        KeyFilter::install(&edit, EditMACKeyPress, 5);
        QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit.text(), QStringLiteral("12-ab 345678"));
        edit.clear();
        edit.paste(); // the context menu's way
        QCOMPARE(edit.text(), QStringLiteral("12-ab 345678"));
    }

    void shortcuts_stillWork()
    {
        QLineEdit edit;
        KeyFilter::install(&edit, ObjIdKeyPress);
        QTest::keyClicks(&edit, "AB12");
        QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier); // select all
        QCOMPARE(edit.selectedText(), QStringLiteral("AB12"));
        QTest::keyClicks(&edit, "C");
        QCOMPARE(edit.text(), QStringLiteral("C"));
        QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier); // undo
        QCOMPARE(edit.text(), QStringLiteral("AB12"));
        QTest::keyClick(&edit, Qt::Key_Home);
        QTest::keyClick(&edit, Qt::Key_Right);
        QTest::keyClicks(&edit, "D");
        QCOMPARE(edit.text(), QStringLiteral("ADB12"));
    }
};

QTEST_MAIN(KeyFiltersTest)
#include "tst_keyfilters.moc"
