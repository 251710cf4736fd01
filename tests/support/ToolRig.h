#pragma once

// The real main window with scripted dialogs, started in a working folder
// that holds the sample CentralType.txt, beside the project's transceiver
// simulator, for tests that use the tool as an installer would.
//
//     ToolRig rig;                          // window shown, catalogue loaded
//     rig.lan.start(QHostAddress("127.0.0.2"), rig.port);
//     QVERIFY(rig.connectLan());            // "LAN", address typed, answer awaited
//     rig.typeSettings(validSettings());    // the right-hand fields, typed
//     rig.addRows(rows);                    // rows stored through the table
//     QVERIFY(rig.write().done());          // "Записать", run to its end
//     QCOMPARE(rig.lan.image(), rig.builtImage());

#include "SampleConfiguration.h"
#include "ScriptedDialogs.h"

#include "app/MainWindow.h"
#include "link/LinkConfig.h"
#include "link/Outcome.h"
#include "link/WriteOutcome.h"
#include "model/CommonSettings.h"
#include "model/ObjectRow.h"

#include "LanSimulator.h"
#include "UsbSimulator.h"

#include <QAction>
#include <QTemporaryDir>

#include <memory>

namespace tarvil {
class ObjectTable;
}

namespace tarvil::test {

// Time-outs long enough never to fire on a loaded machine while the
// simulator answers, short enough for tests of a silent transceiver.
LinkTimings answeringTimings();
LinkTimings silentTimings();

class ToolRig {
public:
    explicit ToolRig(const LinkTimings &timings = answeringTimings());
    ~ToolRig();

    quint16 port;
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    sim::LanSimulator lan;
    sim::UsbSimulator usb;
    std::unique_ptr<TA_Form> window;

    QAction *action(const char *name) const;
    template <typename T> T *find(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }

    // Starts the LAN simulator on 127.0.0.2 and connects to it through "LAN";
    // true once the transceiver has answered.
    bool connectLan();
    // "LAN" with the queued answers, until it is connected or its countdown ends.
    void chooseLan();
    // Opens the USB simulator and chooses it through "USB"; true once the
    // transceiver has answered a poll.
    bool connectUsb();

    // "Записать" (or "Пуск" given as `command`), or "Прочитать", run to the
    // end: how it finished. Defaults (never done) when it did not finish
    // within a minute.
    WriteOutcome write(const char *command = "ItemWr");
    Outcome read();

    // Types the right-hand fields (selections clicked) as a user would.
    void typeSettings(const CommonSettings &settings);
    // Stores rows through the object table as the navigator would.
    void addRows(const QList<ObjectRow> &rows);

    // The image the last build made, as bytes.
    QByteArray builtImage() const;
    int messageCount(const QString &text) const;
};

// Stores rows through the table as the navigator and the record edits do.
void storeRows(ObjectTable &table, const QList<ObjectRow> &rows);

} // namespace tarvil::test
