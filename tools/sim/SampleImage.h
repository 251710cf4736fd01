#pragma once

#include <QByteArray>

namespace tarvil {
class ConfigImage;
}

namespace tarvil::sim {

// What a transceiver fresh from the bench holds: the common settings filled
// in, five objects in records 0..4, the reserved common bytes and the A_F and
// Frmt bytes of the records set, as only a transceiver sets them.
QByteArray sampleImage();

// The 14 202 bytes of a tool-side image.
QByteArray imageBytes(const ConfigImage &image);

} // namespace tarvil::sim
