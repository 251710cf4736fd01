#pragma once

#include <QString>
#include <cstdint>

namespace tarvil {

// The transceiver-wide settings as the window's right-hand panel holds them:
// texts as typed, selections as item indexes. Converted to and from widgets
// only in the window.
struct CommonSettings {
    int etherProt = 0;          // EtherProt: 0 "UDP", 1 "TCP"
    int dhcp = 1;               // DHCP_OnOff: 0 "Выкл.", 1 "Вкл."
    QString masterIp;           // EditIP1_PCN
    QString ownIp;              // DHCP_IP
    QString gatewayIp;          // Shl_IP
    QString serial;             // EditMAC
    QString masterPort;         // EditPort1_PCN
    QString ownPort;            // EditPort_Loc
    QString apn;                // EditAPN
    QString baud;               // BaudBox text
    std::uint32_t periodHB = 10; // PeriodHB
    int format = 0;             // FrmtRadioGroup

    friend bool operator==(const CommonSettings &, const CommonSettings &) = default;
};

// What a shown window holds before anything is read or loaded: the design's
// start values ("9999" in EditPort1_PCN, "9600" chosen in BaudBox).
CommonSettings startSettings();

} // namespace tarvil
