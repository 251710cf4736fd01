#pragma once

#include <QString>
#include <cstdint>

namespace tarvil {

// The panel-type name's width, as the catalogue holds it (characters). The
// widths of the texts the record holds are the image layout's.
inline constexpr int kPanelNameWidth = 20;

// One row of the object table: one alarm control panel.
struct ObjectRow {
    QString Obj;           // object number
    QString Account;       // panel number
    std::int16_t TypeId = 0;
    QString N_PPK;         // panel-type name
    QString P1;            // phone 1
    QString P2;            // phone 2
    std::int16_t A_F = 0;
    std::int32_t WaitTest = 0; // minutes
    std::int16_t Frmt = 0;
    std::int16_t Prot = 0;

    friend bool operator==(const ObjectRow &, const ObjectRow &) = default;
};

} // namespace tarvil
