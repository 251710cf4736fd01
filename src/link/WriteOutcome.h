#pragma once

#include "link/Outcome.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace tarvil {

// How one write or save ended, and what it was: what the journal records.
struct WriteOutcome : Outcome {
    enum class Target { Usb, Lan, File };

    Target target = Target::Lan;
    QString targetName; // the USB device, the transceiver's address or the file
    QString serial;     // as the build checked it
    QByteArray image;   // the configuration image the write sent, 14 202 bytes
};

} // namespace tarvil

Q_DECLARE_METATYPE(tarvil::WriteOutcome)
