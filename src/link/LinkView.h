#pragma once

#include "link/UsbPace.h"
#include "model/CommonSettings.h"
#include "model/ObjectRow.h"

#include <QList>
#include <QString>

#include <optional>

namespace tarvil {

enum class CaptionMode { Offline, Usb, Lan };

// The menu commands the link enables and disables one by one.
enum class Command { ItemLink, ItemWr, ItemRead, ItemLoad, ItemSave };

struct Field;

// What the link and the transactions need of the window. The main window
// implements it; tests implement it with a recording fake. Boxes and prompts
// go through the dialogs adapter (Dialogs.h), not through here.
class LinkView {
public:
    virtual ~LinkView() = default;

    // Offline ignores `detail`. USB: `detail` is what follows "Канал USB " -
    // "Com" and the number of a COM port ("Com3"), or a device's name
    // ("ttyACM0"). LAN: the transceiver's address text.
    virtual void setCaption(CaptionMode mode, const QString &detail = {}) = 0;
    virtual void setStatusText(const QString &text) = 0;

    virtual void LockCommands() = 0;
    virtual void UnlockCommands() = 0;
    virtual void setCommandEnabled(Command command, bool enabled) = 0;
    virtual void setWrBtnVisible(bool visible) = 0;
    // Releases a pressed WrBtn and enables it (end of a USB write).
    virtual void releaseWrBtn() = 0;
    virtual void setGaugeVisible(bool visible) = 0;
    virtual void setGauge(int percent) = 0;
    // A USB write's pace beside the gauge: the adapter's answer time, the
    // time left and how to make the adapter faster. First before packet 0,
    // then whenever the time left changes by a second; nothing once the
    // write has ended.
    virtual void setUsbPace(const std::optional<UsbPace> &pace) = 0;

    // The right-hand fields as they stand, and the object table's rows in order.
    virtual CommonSettings commonSettings() const = 0;
    virtual QList<ObjectRow> objectRows() const = 0;
    // Moves the input focus to the control that shows the common field, only
    // when it can take the focus.
    virtual void focusControl(const Field &field) = 0;

    // Read: empty the count label; empty the fields the image layout marks
    // as emptied by a read (EditMAC, EditAPN, EditIP1_PCN, DHCP_IP,
    // EditPort_Loc and Shl_IP); empty the object table; fill the right-hand
    // fields; rebuild the table from the image's records.
    virtual void clearObjectCount() = 0;
    virtual void clearFieldsForRead() = 0;
    virtual void clearObjectTable() = 0;
    virtual void applyCommonSettings(const CommonSettings &settings) = 0;
    virtual void rebuildObjectTable() = 0;

    // Asks the main window to close (its close question still applies).
    virtual void requestClose() = 0;
};

} // namespace tarvil
