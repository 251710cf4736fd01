#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvil {

struct PortEntry {
    QString name;        // what the link opens ("COM3", "/dev/ttyACM0")
    QString description; // shown beside the name
};

struct PortChoiceRequest {
    QString caption;     // "Select Port"
    QStringList lines;   // the explanatory lines above the list
    QList<PortEntry> ports;
};

} // namespace tarvil
