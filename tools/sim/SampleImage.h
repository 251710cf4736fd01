#pragma once

#include <QByteArray>

namespace tarvil::sim {

// What a transceiver fresh from the bench holds: the common settings filled
// in, five objects in records 0..4, the reserved common bytes and the A_F and
// Frmt bytes of the records set, as only a transceiver sets them. Built from
// the simulator's own layout, never by the tool's encoders.
QByteArray sampleImage();

} // namespace tarvil::sim
