#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace tarvil {

// What the system tells of a serial port beyond its name: the USB adapter
// behind it, and the latency timer that paces it.
struct PortDetails {
    QString name;        // as the link opens it ("COM5", "/dev/ttyUSB0")
    QString description; // as the port chooser shows it
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    // Linux: the tty's kernel driver ("ftdi_sio", "cdc_acm"); Windows: the
    // device's service ("FTSER2K" for FTDI's, "usbser" for CDC-ACM).
    QString driver;
    // Milliseconds, where the system shows it (Linux: sysfs; Windows: FTDI's
    // registry value, read only).
    std::optional<int> latencyTimerMs;

    enum class Kind {
        Ftdi,     // FTDI's bridge: a latency timer, 16 ms unless lowered
        CdcAcm,   // a USB modem class device: no timer to lower
        OtherUsb, // another USB bridge
        NotUsb,   // a port no USB adapter stands behind, as far as the system says
    };
    Kind kind() const;
};

// What opening a port did with the driver's low-latency flag (Linux
// ASYNC_LOW_LATENCY): with it, FTDI's driver passes each byte on within 1 ms.
enum class LowLatency {
    NotOpen,     // nothing tried: the port is not open
    Unsupported, // the device keeps no such flag (a pseudo-terminal, any port on Windows)
    AlreadyOn,
    Lowered,     // set when the port opened; put back when it closes
    Refused,     // the driver did not take it
};

enum class HostSystem { Linux, Windows, Other };
HostSystem hostSystem();

// The port-information adapter: Qt's port list with the IDs it knows, and
// the driver and latency timer from the system (Linux: sysfs, under
// `sysfsRoot`; Windows: the registry under HKLM, read only).
class PortInfo {
public:
    explicit PortInfo(QString sysfsRoot = QStringLiteral("/sys"));

    // Every port the port chooser offers, described.
    QList<PortDetails> ports() const;
    // One port, by the name the link opens it with.
    PortDetails describe(const QString &name) const;
    // The driver and the latency timer of `port`, as the system shows them.
    void complete(PortDetails &port) const;

private:
    QString sysfs_;
};

} // namespace tarvil
