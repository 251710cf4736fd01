#include "app/Dialogs.h"
#include "app/ObjectPanel.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
#include <functional>

using namespace tarvil;

namespace {

// Answers the boxes from a queue (OK when it is empty) and records them; a
// hook runs while a box is "open".
class PanelDialogs : public Dialogs {
public:
    QList<UserMessage> messages;
    QList<MsgAnswer> answers;
    std::function<void()> whileOpen;

    MsgAnswer message(const UserMessage &m) override
    {
        messages.append(m);
        if (whileOpen)
            whileOpen();
        return answers.isEmpty() ? MsgAnswer::Ok : answers.takeFirst();
    }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override { return {}; }
    std::optional<QString> openFileName(const FileDialogRequest &) override { return {}; }
    std::optional<QString> saveFileName(const FileDialogRequest &) override { return {}; }
    std::optional<QString> choosePort(const PortChoiceRequest &) override { return {}; }
};

const QByteArray kTypes = "1;Type A;11;21\r\n2; Type B ;12;22\r\n3;Type C;13;23\r\n";

// The panel inside a window of the main window's size, beside another edit
// that stands for the right-hand panel.
struct Window {
    QTemporaryDir dir;
    PanelDialogs dialogs;
    QWidget window;
    ObjectPanel *panel = nullptr;
    QLineEdit *other = nullptr;

    explicit Window(const QByteArray &types = kTypes, bool writeFile = true)
    {
        auto *layout = new QHBoxLayout(&window);
        panel = new ObjectPanel(dialogs, &window);
        other = new QLineEdit(&window);
        other->setObjectName(QStringLiteral("Other"));
        other->setFixedWidth(297);
        layout->addWidget(panel, 1);
        layout->addWidget(other);
        window.resize(855, 560);
        const QString path = dir.filePath(QStringLiteral("CentralType.txt"));
        if (writeFile) {
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(types);
        }
        window.show();
        window.activateWindow();
        panel->openTables(path);
    }

    template<typename T> T *child(const QString &name) const
    {
        T *w = panel->findChild<T *>(name);
        if (!w)
            qWarning("no child %s", qPrintable(name));
        return w;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(QString::fromLatin1(name)); }
    QTableView *grid() const { return child<QTableView>(QStringLiteral("DBGrid1")); }
    QToolButton *nav(const char *button) const
    {
        return child<QToolButton>(QStringLiteral("DBNavigator1_") + QLatin1String(button));
    }
    void click(const char *button) const { QTest::mouseClick(nav(button), Qt::LeftButton); }
    QString count() const { return child<QLabel>(QStringLiteral("ObjCountLbl"))->text(); }
    QString typeShown() const
    {
        const QAbstractItemModel *m = child<QTableView>(QStringLiteral("N_PPK"))->model();
        return m->rowCount() == 0 ? QString() : m->index(0, 0).data().toString();
    }
    QString cell(int row, int column) const { return grid()->model()->index(row, column).data().toString(); }
    void clickRow(int row) const
    {
        QTableView *g = grid();
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(row, 0)).center());
    }

    // Types a whole object into the edits, as a user would.
    void typeObject(const QString &obj, const QString &account, const QString &p1, const QString &wait = {})
    {
        QTest::keyClicks(edit("ObjId"), obj);
        QTest::keyClicks(edit("Accnt"), account);
        QTest::keyClicks(edit("P1"), p1);
        if (!wait.isEmpty())
            QTest::keyClicks(edit("WaitTest"), wait);
    }
};

} // namespace

class ObjectPanelTest : public QObject {
    Q_OBJECT
private slots:
    void widgets_namesTextsAndHints()
    {
        Window w;
        const QList<std::pair<const char *, const char *>> labels{{"ObjId", "Номер объекта"},
                                                                 {"P1", "Телефон 1"},
                                                                 {"Accnt", "Номер ППК"},
                                                                 {"P2", "Телефон 2"},
                                                                 {"WaitTest", "Тест, мин."}};
        for (const auto &[name, text] : labels) {
            QLabel *label = nullptr;
            for (QLabel *l : w.panel->findChildren<QLabel *>()) {
                if (l->buddy() == w.edit(name))
                    label = l;
            }
            QVERIFY2(label, name);
            QCOMPARE(label->text(), QString::fromUtf8(text));
        }
        QCOMPARE(w.edit("WaitTest")->toolTip(), QStringLiteral("Период ожидания теста  GSM-канала "));
        QCOMPARE(w.child<QTableView>(QStringLiteral("N_PPK"))->toolTip(), QStringLiteral("Выбор типа ППК"));
        QVERIFY(w.child<QWidget>(QStringLiteral("DBNavigator2")));
        QVERIFY(w.child<QToolButton>(QStringLiteral("DBNavigator2_Prior")));
        QVERIFY(w.child<QToolButton>(QStringLiteral("DBNavigator2_Next")));
        QCOMPARE(w.count(), QString()); // empty when the window opens

        const QStringList hints{"Первая запись",  "Предыдущая запись", "Следующая запись",   "Последняя запись",
                                "Добавить запись", "Удалить запись",    "Изменить запись",    "Сохранить запись",
                                "Отказ от изменений", "Обновить"};
        const QStringList names{"First", "Prior", "Next", "Last", "Insert", "Delete", "Edit", "Post", "Cancel", "Refresh"};
        QWidget *navigator = w.child<QWidget>(QStringLiteral("DBNavigator1"));
        const QList<QToolButton *> buttons = navigator->findChildren<QToolButton *>();
        QCOMPARE(buttons.size(), 10);
        QList<QToolButton *> byPosition = buttons;
        std::sort(byPosition.begin(), byPosition.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(byPosition.at(i)->objectName(), QStringLiteral("DBNavigator1_") + names.at(i));
            QCOMPARE(byPosition.at(i)->toolTip(), hints.at(i));
        }

        QTableView *grid = w.grid();
        const QStringList titles{"Объект", "ППК", "Телефон 1", "Телефон 2", "Тест", "Тип ППК"};
        const QList<int> widths{51, 51, 97, 93, 48, 130};
        const QList<Qt::Alignment> cells{Qt::AlignRight, Qt::AlignRight, Qt::AlignHCenter,
                                         Qt::AlignLeft,  Qt::AlignLeft,  Qt::AlignHCenter};
        w.typeObject("0001", "0002", "+1");
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(grid->model()->headerData(i, Qt::Horizontal).toString(), titles.at(i));
            QCOMPARE(grid->model()->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                     Qt::Alignment(Qt::AlignCenter));
            QCOMPARE(grid->columnWidth(i), widths.at(i));
            const auto alignment = grid->model()->index(0, i).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            QCOMPARE(alignment & Qt::AlignHorizontal_Mask, cells.at(i));
        }
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(grid->verticalHeader()->isVisible());
        // The whole grid fits the panel beside a 297-pixel right-hand panel.
        QVERIFY(grid->horizontalHeader()->length() + grid->verticalHeader()->width() < grid->width());
    }

    void typing_filtersKeysAndFillsTheTable()
    {
        Window w;
        QLineEdit *objId = w.edit("ObjId");
        QTest::keyClicks(objId, "0a-A B1F9");
        QCOMPARE(objId->text(), QStringLiteral("0AB1")); // small letters, blanks and a fifth character refused
        QCOMPARE(w.panel->table().mode(), TableMode::Insert);
        QCOMPARE(w.grid()->model()->rowCount(), 1); // the pending row shows
        QTest::keyClick(objId, Qt::Key_Backspace);
        QTest::keyClicks(objId, "C");
        QTest::keyClicks(w.edit("Accnt"), "00FF");
        QTest::keyClicks(w.edit("P1"), "+38050123456789");
        QCOMPARE(w.edit("P1")->text(), QStringLiteral("+380501234567"));
        QTest::keyClicks(w.edit("P2"), "+x1");
        QCOMPARE(w.edit("P2")->text(), QStringLiteral("+1"));
        QTest::keyClicks(w.edit("WaitTest"), "1.5e3");
        QCOMPARE(w.edit("WaitTest")->text(), QStringLiteral("153"));
        QCOMPARE(w.panel->rows().size(), 0); // still pending

        w.click("Post");
        QVERIFY(w.dialogs.messages.isEmpty());
        QCOMPARE(w.panel->rows().size(), 1);
        const ObjectRow row = w.panel->rows().at(0);
        QCOMPARE(row.Obj, QStringLiteral("0ABC"));
        QCOMPARE(row.Account, QStringLiteral("00FF"));
        QCOMPARE(row.P1, QStringLiteral("+380501234567"));
        QCOMPARE(row.P2, QStringLiteral("+1"));
        QCOMPARE(row.WaitTest, 153);
        QCOMPARE(row.N_PPK, QStringLiteral("Type A"));
        QCOMPARE(w.cell(0, 0), QStringLiteral("0ABC"));
        QCOMPARE(w.cell(0, 4), QStringLiteral("153"));
        QCOMPARE(w.cell(0, 5), QStringLiteral("Type A"));
        QCOMPARE(w.count(), QStringLiteral("Количество объектов 1"));
        QCOMPARE(w.typeShown(), QStringLiteral("Type A"));

        // Typing into a stored row edits it; the chosen type goes with the store.
        QTest::keyClicks(w.edit("P2"), "2");
        QCOMPARE(w.panel->table().mode(), TableMode::Edit);
        QTest::mouseClick(w.child<QToolButton>(QStringLiteral("DBNavigator2_Next")), Qt::LeftButton);
        QTest::mouseClick(w.child<QToolButton>(QStringLiteral("DBNavigator2_Next")), Qt::LeftButton);
        QCOMPARE(w.typeShown(), QStringLiteral("Type C"));
        w.click("Post");
        QCOMPARE(w.panel->rows().at(0).P2, QStringLiteral("+12"));
        QCOMPARE(w.panel->rows().at(0).TypeId, std::int16_t(3));
        QCOMPARE(w.typeShown(), QStringLiteral("Type C"));
    }

    void insertButton_focusesObjIdAndRefusalsFocusTheField()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.other->setFocus();
        w.click("Insert");
        QVERIFY(w.edit("ObjId")->hasFocus());
        QCOMPARE(w.panel->table().mode(), TableMode::Insert);

        w.typeObject("12A", "0001", "+1");
        w.other->setFocus();
        w.click("Post");
        QCOMPARE(w.dialogs.messages.size(), 1);
        QCOMPARE(w.dialogs.messages.at(0).text, QStringLiteral("Не опрелен номер объекта!"));
        QCOMPARE(w.dialogs.messages.at(0).caption, QStringLiteral("Ошибка"));
        QCOMPARE(w.dialogs.messages.at(0).icon, MsgIcon::Error);
        QVERIFY(w.edit("ObjId")->hasFocus());
        QCOMPARE(w.panel->rows().size(), 0);
        QCOMPARE(w.grid()->model()->rowCount(), 0);
        QCOMPARE(w.edit("ObjId")->text(), QString());

        // A test period the record cannot hold: the values stay for correcting.
        w.typeObject("0001", "0002", "+1", "99999999");
        w.other->setFocus();
        w.click("Post");
        QCOMPARE(w.dialogs.messages.size(), 2);
        QCOMPARE(w.dialogs.messages.at(1).text, QStringLiteral("Недопустимое значение поля \"Тест, мин.\""));
        QVERIFY(w.edit("WaitTest")->hasFocus());
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0001"));
        QCOMPARE(w.edit("WaitTest")->text(), QStringLiteral("99999999"));
        QCOMPARE(w.panel->table().mode(), TableMode::Insert);
        QTest::keyClick(w.edit("WaitTest"), Qt::Key_Backspace);
        w.click("Post");
        QCOMPARE(w.panel->rows().size(), 1);
        QCOMPARE(w.panel->rows().at(0).WaitTest, 9999999);
    }

    void gridClicks_moveAndSettleThePendingRow()
    {
        Window w;
        ConfigImage image;
        for (int k = 0; k < 3; ++k) {
            std::uint8_t *rec = image.record(k);
            rec[0] = '5';
            std::memcpy(rec + RecordField::Obj.offset, QByteArray::number(k * 2 + 0x10, 16).rightJustified(4, '0').constData(), 4);
            std::memcpy(rec + RecordField::Account.offset, "0001", 4);
            rec[RecordField::TypeId.offset] = std::uint8_t(k + 1);
        }
        w.panel->RebuildObjectTable(image);
        QCOMPARE(w.count(), QStringLiteral("Количество объектов 3"));
        QCOMPARE(w.grid()->currentIndex().row(), 2);

        w.clickRow(0);
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0010"));
        QCOMPARE(w.grid()->currentIndex().row(), 0);
        QCOMPARE(w.typeShown(), QStringLiteral("Type A"));

        // A changed row is stored before the move.
        QTest::keyClicks(w.edit("P1"), "7");
        w.clickRow(1);
        QCOMPARE(w.panel->rows().at(0).P1, QStringLiteral("57"));
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0012"));
        QCOMPARE(w.typeShown(), QStringLiteral(" Type B "));

        // An unchanged insertion disappears without a word.
        w.click("Insert");
        QCOMPARE(w.grid()->model()->rowCount(), 4);
        w.clickRow(3);
        QCOMPARE(w.grid()->model()->rowCount(), 3);
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0014"));
        QVERIFY(w.dialogs.messages.isEmpty());

        // The navigator moves too.
        w.click("First");
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0010"));
        QVERIFY(!w.nav("Prior")->isEnabled());
        w.click("Last");
        QCOMPARE(w.grid()->currentIndex().row(), 2);
        QVERIFY(!w.nav("Next")->isEnabled());
        QVERIFY(!w.nav("Post")->isEnabled());

        // So do the arrow keys in the grid.
        QTest::keyClick(w.grid(), Qt::Key_Up);
        QCOMPARE(w.edit("ObjId")->text(), QStringLiteral("0012"));
        QTest::keyClick(w.grid(), Qt::Key_Home);
        QCOMPARE(w.grid()->currentIndex().row(), 0);

        // Cancelling an edit puts the old values back into the edits; the
        // type grid keeps showing the first type until the next move.
        QTest::keyClicks(w.edit("P1"), "99");
        QCOMPARE(w.cell(0, 2), QStringLiteral("5799"));
        QCOMPARE(w.typeShown(), QStringLiteral("Type A"));
        w.click("Cancel");
        QCOMPARE(w.edit("P1")->text(), QStringLiteral("57"));
        QCOMPARE(w.cell(0, 2), QStringLiteral("57"));
        QCOMPARE(w.panel->table().mode(), TableMode::Browse);
        QVERIFY(!w.panel->catalogue().isFilterOn());
        QTest::keyClick(w.grid(), Qt::Key_Down);
        QCOMPARE(w.typeShown(), QStringLiteral(" Type B "));
        QVERIFY(w.dialogs.messages.isEmpty());
    }

    // The type grid shows the current object's type while the table browses,
    // and every type while a row is inserted or edited.
    void catalogueFollowsTheTable()
    {
        Window w;
        ObjectTable &table = w.panel->table();
        PanelTypeCatalogue &catalogue = w.panel->catalogue();
        const auto fill = [&](const QString &obj) {
            table.setFieldText(ObjectField::Obj, obj);
            table.setFieldText(ObjectField::Account, QStringLiteral("0001"));
            table.setFieldText(ObjectField::P1, QStringLiteral("+380001"));
        };
        w.click("Insert");
        catalogue.next(); // Type B
        fill(QStringLiteral("0001"));
        table.post();
        QCOMPARE(table.at(0).N_PPK, QStringLiteral("Type B"));
        QVERIFY(catalogue.isFilterOn());
        QVERIFY(!catalogue.next()); // with the filter on there is no further Type B
        QCOMPARE(catalogue.currentIndex(), 1);

        // Editing only the phone number stores the first type.
        table.typeField(ObjectField::P1, QStringLiteral("+1"));
        QCOMPARE(table.mode(), TableMode::Edit);
        QVERIFY(!catalogue.isFilterOn());
        QCOMPARE(catalogue.currentIndex(), 0);
        table.post();
        QCOMPARE(table.at(0).N_PPK, QStringLiteral("Type A"));
        QCOMPARE(table.at(0).P1, QStringLiteral("+1"));

        // Cancelling an edit is no move: the filter stays off.
        table.edit();
        catalogue.next();
        table.cancel();
        QVERIFY(!catalogue.isFilterOn());
        QCOMPARE(catalogue.currentIndex(), 1);
        // With the filter already off an edit keeps the chosen type.
        table.edit();
        QCOMPARE(catalogue.currentIndex(), 1);
        table.post();
        QCOMPARE(table.at(0).N_PPK, QStringLiteral("Type B"));
        QVERIFY(catalogue.isFilterOn());

        // A rebuild leaves the row of the last record in use current, and
        // the type grid on its type; an unknown type leaves it empty.
        ConfigImage image;
        for (int k : {0, 1}) {
            image.record(k)[0] = '1';
            std::memcpy(image.record(k) + RecordField::Obj.offset, k ? "0001" : "0002", 4);
            image.record(k)[RecordField::TypeId.offset] = std::uint8_t(k ? 3 : 99);
        }
        table.RebuildObjectTable(image);
        QCOMPARE(table.current(), 0);
        QCOMPARE(w.typeShown(), QStringLiteral("Type C"));
        table.next();
        QCOMPARE(table.at(1).N_PPK, QStringLiteral("Тип ППК не определен"));
        QVERIFY(catalogue.isFilterOn());
        QVERIFY(!catalogue.hasCurrent());
    }

    void gridLosingFocus_cancelsAnUnchangedInsertion()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.typeObject("0001", "0001", "+1");
        w.click("Post");
        w.grid()->setFocus();
        w.click("Insert");
        QVERIFY(w.edit("ObjId")->hasFocus()); // the insertion stays for filling in
        QCOMPARE(w.panel->table().mode(), TableMode::Insert);
        w.grid()->setFocus();
        w.other->setFocus();
        QCOMPARE(w.panel->table().mode(), TableMode::Browse);
        QCOMPARE(w.grid()->model()->rowCount(), 1);
    }

    void delete_asksFirst()
    {
        Window w;
        w.typeObject("0001", "0001", "+1");
        w.click("Post");
        w.dialogs.answers = {MsgAnswer::Cancel};
        w.click("Delete");
        QCOMPARE(w.dialogs.messages.size(), 1);
        const UserMessage ask = w.dialogs.messages.at(0);
        QCOMPARE(ask.text, QStringLiteral("Delete record?"));
        QCOMPARE(ask.caption, QStringLiteral("Confirm"));
        QCOMPARE(ask.icon, MsgIcon::Question);
        QCOMPARE(ask.buttons, MsgButtons::OkCancel);
        QCOMPARE(w.panel->rows().size(), 1);
        QCOMPARE(w.count(), QStringLiteral("Количество объектов 1"));

        w.click("Delete");
        QCOMPARE(w.panel->rows().size(), 0);
        QCOMPARE(w.count(), QStringLiteral("Количество объектов 0"));
        QCOMPARE(w.edit("ObjId")->text(), QString());
        QVERIFY(!w.nav("Delete")->isEnabled());
    }

    void limit_refusesThe301st()
    {
        Window w;
        ConfigImage image;
        for (int k = 0; k < 300; ++k) {
            image.record(k)[0] = '1';
            std::memcpy(image.record(k) + RecordField::Obj.offset,
                        QByteArray::number(k, 16).rightJustified(4, '0').toUpper().constData(), 4);
        }
        w.panel->RebuildObjectTable(image);
        QCOMPARE(w.grid()->model()->rowCount(), 300);
        w.click("Insert");
        QCOMPARE(w.dialogs.messages.size(), 1);
        QCOMPARE(w.dialogs.messages.at(0).text, QStringLiteral("Превышено максимально-допустимое число объектов"));
        QVERIFY(w.dialogs.messages.at(0).topmost);
        QCOMPARE(w.grid()->model()->rowCount(), 300);
        QCOMPARE(w.panel->table().mode(), TableMode::Browse);
        QCOMPARE(w.panel->rows().size(), 300);
    }

    void openTables_reportsACatalogueOverTheSizeLimit()
    {
        Window w(QByteArray("1;Type A;1;0\r\n") + QByteArray(kMaxCatalogueBytes, '7'));
        QCOMPARE(w.dialogs.messages.size(), 1);
        QCOMPARE(w.dialogs.messages.at(0),
                 (UserMessage{QStringLiteral("Файл CentralType.txt больше 16 МБ (16777216 байт): "
                                             "загрузка остановлена на строке 2."),
                              QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false}));
        QCOMPARE(w.panel->catalogue().count(), 1);
        QCOMPARE(w.typeShown(), QStringLiteral("Type A"));
    }

    void openTables_reportsABadCatalogueLine()
    {
        Window w("1;Type A;1;0\r\n2;Type B;x;0\r\n3;Type C;1;0\r\n");
        QCOMPARE(w.dialogs.messages.size(), 1);
        QCOMPARE(w.dialogs.messages.at(0), (UserMessage{QStringLiteral("'x' is not a valid integer value"),
                                                        QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok,
                                                        false}));
        QCOMPARE(w.panel->catalogue().count(), 1);
        QCOMPARE(w.typeShown(), QStringLiteral("Type A"));

        Window missing({}, false);
        QVERIFY(missing.dialogs.messages.isEmpty());
        QCOMPARE(missing.typeShown(), QString());
        missing.typeObject("0001", "0001", "+1");
        missing.click("Post");
        QCOMPARE(missing.panel->rows().at(0).TypeId, std::int16_t(0));
        QCOMPARE(missing.typeShown(), QString());
    }

    void clearAndRebuild_forAReadOrALoad()
    {
        Window w;
        w.typeObject("0001", "0001", "+1");
        w.click("Post");
        w.panel->clearObjectCount();
        w.panel->clearObjectTable();
        QCOMPARE(w.count(), QString());
        QCOMPARE(w.grid()->model()->rowCount(), 0);
        QCOMPARE(w.edit("ObjId")->text(), QString());

        ConfigImage image;
        image.record(4)[0] = '9';
        std::memcpy(image.record(4) + RecordField::Obj.offset, "00C1", 4);
        image.record(4)[RecordField::TypeId.offset] = 77;
        w.panel->RebuildObjectTable(image);
        QCOMPARE(w.panel->rows().size(), 1);
        QCOMPARE(w.cell(0, 5), QStringLiteral("Тип ППК не определен"));
        QCOMPARE(w.typeShown(), QString());
        QCOMPARE(w.count(), QStringLiteral("Количество объектов 1"));
    }
};

QTEST_MAIN(ObjectPanelTest)
#include "tst_objectpanel.moc"
