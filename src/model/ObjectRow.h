#pragma once

#include <QString>
#include <cstdint>

namespace tarvil {

// Widths of the row's text fields (characters; code page 1251, one byte each).
inline constexpr int kObjWidth = 4;
inline constexpr int kAccountWidth = 4;
inline constexpr int kPanelNameWidth = 20;
inline constexpr int kPhoneWidth = 13;

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
