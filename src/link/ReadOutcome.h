#pragma once

#include "link/Outcome.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace tarvil {

// How one read ended, and what it brought: what the journal records.
struct ReadOutcome : Outcome {
    QString targetName; // the transceiver's address
    // The serial number the image carries: that of a read that ended, or of a
    // failed one whose common block had arrived; empty otherwise.
    QString serial;
    // Every byte of the image as the transceiver returned it (14 202 bytes)
    // when the read ended; empty when it failed or was interrupted, since what
    // arrived by then is no configuration to keep.
    QByteArray image;
};

} // namespace tarvil

Q_DECLARE_METATYPE(tarvil::ReadOutcome)
