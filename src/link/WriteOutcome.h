#pragma once

#include <QByteArray>
#include <QString>

namespace tarvil {

// How one write or save ended, as the user saw it: what the journal records.
struct WriteOutcome {
    enum class Target { Usb, Lan, File };
    enum class Result { Done, Failed, Interrupted };

    Target target = Target::Lan;
    QString targetName; // the USB device, the transceiver's address or the file
    QString serial;     // as the build checked it
    Result result = Result::Done;
    QString message;  // the text the user was shown for a failure
    QByteArray image; // the configuration image the write sent, 14 202 bytes
};

} // namespace tarvil
