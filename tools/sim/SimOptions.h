#pragma once

#include "Faults.h"
#include "LanSimulator.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvil::sim {

// What the command line of tarvil-sim asks for.
struct SimOptions {
    bool lan = true;
    bool usb = true;
    QHostAddress lanAddress = defaultLanAddress();
    quint16 lanPort = kDefaultLanPort;
    QString imageFile;
    quint16 controlPort = 0; // 0: no control connection
    bool quiet = false;
    bool help = false;
    LanFaults lanFaults;
    UsbFaults usbFaults;
};

struct ParsedOptions {
    std::optional<SimOptions> options; // nothing when the command line is wrong
    QString error;                     // what is wrong with it
};

// `arguments` without the program's name.
ParsedOptions parseSimOptions(const QStringList &arguments);
QString simHelpText();
// Every option's name with its dashes ("--lan", "--nak", ...), in help order.
QStringList simOptionNames();

} // namespace tarvil::sim
