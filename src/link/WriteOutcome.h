#pragma once

#include "link/Outcome.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <optional>

namespace tarvil {

// How one write or save ended, and what it was: what the journal records.
struct WriteOutcome : Outcome {
    enum class Target { Usb, Lan, File };

    Target target = Target::Lan;
    QString targetName; // the USB device, the transceiver's address or the file
    QString serial;     // as the build checked it
    QByteArray image;   // the configuration image the write sent, 14 202 bytes
    // A USB write: the adapter's median answer time when it ended, and how
    // long it ran, in milliseconds.
    std::optional<double> answerMs;
    std::optional<qint64> durationMs;
};

} // namespace tarvil

Q_DECLARE_METATYPE(tarvil::WriteOutcome)
