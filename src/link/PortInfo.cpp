#include "link/PortInfo.h"

#include "link/SerialPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tarvil {

namespace {

constexpr quint16 kFtdiVendor = 0x0403;

bool named(const QString &driver, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (driver.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

#ifdef Q_OS_WIN

// "VID_0403+PID_6001+A12345BCA" (FTDI's bus) or "VID_2341&PID_0043" (USB).
void idsFromInstance(const QString &instance, PortDetails &port)
{
    static const QRegularExpression ids(QStringLiteral("VID_([0-9A-Fa-f]{4})[&+]PID_([0-9A-Fa-f]{4})"));
    const auto m = ids.match(instance);
    if (!m.hasMatch())
        return;
    if (!port.vendorId)
        port.vendorId = quint16(m.captured(1).toUInt(nullptr, 16));
    if (!port.productId)
        port.productId = quint16(m.captured(2).toUInt(nullptr, 16));
}

// Registry keys under HKLM, opened for reading only: the adapter's settings
// belong to its driver, and changing them takes an administrator.
class Key {
public:
    Key(HKEY parent, const QString &path)
    {
        if (RegOpenKeyExW(parent, reinterpret_cast<const wchar_t *>(path.utf16()), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY handle() const { return key_; }

    QStringList subkeys() const
    {
        QStringList out;
        if (!key_)
            return out;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            out << QString::fromWCharArray(name, int(length));
        }
        return out;
    }
    QString text(const wchar_t *name) const
    {
        wchar_t value[512];
        DWORD size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS
            || (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        value[size / sizeof(wchar_t)] = L'\0';
        return QString::fromWCharArray(value);
    }
    std::optional<int> number(const wchar_t *name) const
    {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) != ERROR_SUCCESS
            || type != REG_DWORD)
            return std::nullopt;
        return int(value);
    }

private:
    HKEY key_ = nullptr;
};

const QString kEnum = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\");

// The device instance whose "Device Parameters" name the port `com`: under
// FTDI's own bus (each instance has its function "0000" below it), or under
// USB (a CDC-ACM device, served by usbser).
void completeFromRegistry(PortDetails &port)
{
    const QString com = port.name.trimmed();
    const Key ftdi(HKEY_LOCAL_MACHINE, kEnum + QStringLiteral("FTDIBUS"));
    for (const QString &instance : ftdi.subkeys()) {
        const QString function = kEnum + QStringLiteral("FTDIBUS\\") + instance + QStringLiteral("\\0000");
        const Key parameters(HKEY_LOCAL_MACHINE, function + QStringLiteral("\\Device Parameters"));
        if (parameters.text(L"PortName").compare(com, Qt::CaseInsensitive) != 0)
            continue;
        const QString service = Key(HKEY_LOCAL_MACHINE, function).text(L"Service");
        port.driver = service.isEmpty() ? QStringLiteral("FTDIBUS") : service;
        port.latencyTimerMs = parameters.number(L"LatencyTimer");
        idsFromInstance(instance, port);
        return;
    }
    const Key usb(HKEY_LOCAL_MACHINE, kEnum + QStringLiteral("USB"));
    for (const QString &device : usb.subkeys()) {
        const Key instances(HKEY_LOCAL_MACHINE, kEnum + QStringLiteral("USB\\") + device);
        for (const QString &instance : instances.subkeys()) {
            const QString path = kEnum + QStringLiteral("USB\\") + device + QLatin1Char('\\') + instance;
            if (Key(HKEY_LOCAL_MACHINE, path + QStringLiteral("\\Device Parameters")).text(L"PortName")
                    .compare(com, Qt::CaseInsensitive) != 0)
                continue;
            port.driver = Key(HKEY_LOCAL_MACHINE, path).text(L"Service");
            idsFromInstance(device, port);
            return;
        }
    }
}

#endif

} // namespace

PortDetails::Kind PortDetails::kind() const
{
    if (named(driver, {"ftdi_sio", "FTSER2K", "FTDIBUS"}) || vendorId == kFtdiVendor)
        return Kind::Ftdi;
    if (named(driver, {"cdc_acm", "usbser"}))
        return Kind::CdcAcm;
    return vendorId ? Kind::OtherUsb : Kind::NotUsb;
}

HostSystem hostSystem()
{
#if defined(Q_OS_LINUX)
    return HostSystem::Linux;
#elif defined(Q_OS_WIN)
    return HostSystem::Windows;
#else
    return HostSystem::Other;
#endif
}

PortInfo::PortInfo(QString sysfsRoot) : sysfs_(std::move(sysfsRoot)) {}

QList<PortDetails> PortInfo::ports() const
{
    QList<PortDetails> out;
    for (const PortEntry &entry : QtSerialPort::availablePorts()) {
        PortDetails port = describe(entry.name);
        port.description = entry.description;
        out.append(port);
    }
    return out;
}

PortDetails PortInfo::describe(const QString &name) const
{
    PortDetails port;
    port.name = name;
    const QSerialPortInfo info(name);
    if (!info.isNull()) {
        port.description = info.description();
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
    }
    complete(port);
    return port;
}

void PortInfo::complete(PortDetails &port) const
{
#ifdef Q_OS_WIN
    Q_UNUSED(sysfs_);
    completeFromRegistry(port);
#else
    // /dev/serial/by-id/... and the like name the same device.
    const QFileInfo device(port.name);
    const QString tty = (device.exists() ? QFileInfo(device.canonicalFilePath()) : device).fileName();
    if (tty.isEmpty())
        return;
    const QFileInfo driver(sysfs_ + QStringLiteral("/class/tty/") + tty + QStringLiteral("/device/driver"));
    if (driver.exists())
        port.driver = QFileInfo(driver.canonicalFilePath()).fileName();
    QFile timer(sysfs_ + QStringLiteral("/bus/usb-serial/devices/") + tty + QStringLiteral("/latency_timer"));
    if (timer.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int ms = QString::fromLatin1(timer.read(16)).trimmed().toInt(&ok);
        if (ok && ms >= 0)
            port.latencyTimerMs = ms;
    }
#endif
}

} // namespace tarvil
