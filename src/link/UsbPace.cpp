#include "link/UsbPace.h"

#include <algorithm>
#include <cmath>

namespace tarvil {

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr double kSlowMs = 4.0;

double tenths(nanoseconds t) { return std::round(double(t.count()) / 1e5) / 10.0; }

const QString kUdevRule = QStringLiteral(
    R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")");

QString timerNow(const PortDetails &port)
{
    return port.latencyTimerMs ? QStringLiteral("сейчас %1 мс").arg(*port.latencyTimerMs)
                               : QStringLiteral("обычно 16 мс");
}

} // namespace

milliseconds UsbPace::left() const
{
    const double ms = double(answer.count()) / 1e6 * double(std::max(framesLeft, 0));
    return milliseconds(std::llround(ms));
}

bool UsbPace::slow() const { return tenths(answer) >= kSlowMs; }

namespace texts {

QString answerMilliseconds(nanoseconds answer)
{
    return QString::number(tenths(answer), 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString usbAdapterLine(const UsbPace &pace)
{
    const long long seconds = std::llround(double(pace.left().count()) / 1000.0);
    const QString time = seconds < 60 ? QStringLiteral("%1 с").arg(seconds)
                                      : QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("Адаптер USB: ответ за %1 мс на пакет; запись займёт около %2.")
        .arg(answerMilliseconds(pace.answer), time);
}

QString usbAdviceLine(const UsbPace &pace)
{
    return pace.advice.isEmpty()
               ? QStringLiteral("Как уменьшить задержку ответа этого адаптера, программе не известно.")
               : pace.advice;
}

QString gaugeFormat(milliseconds left)
{
    const long long s = std::llround(double(left.count()) / 1000.0);
    const QString time = s >= 3600 ? QStringLiteral("%1:%2:%3")
                                         .arg(s / 3600)
                                         .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                         .arg(s % 60, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%p % · осталось ") + time;
}

QString gaugeToolTip(const UsbPace &pace)
{
    QString tip = QStringLiteral("Адаптер USB отвечает за %1 мс на пакет.").arg(answerMilliseconds(pace.answer));
    if (pace.slow())
        tip += QLatin1Char('\n') + usbAdviceLine(pace);
    return tip;
}

QString latencyAdvice(const PortDetails &port, HostSystem system, LowLatency flag)
{
    switch (port.kind()) {
    case PortDetails::Kind::CdcAcm:
        return QStringLiteral("Адаптер CDC-ACM не держит ответы по таймеру: уменьшать здесь нечего.");
    case PortDetails::Kind::OtherUsb:
    case PortDetails::Kind::NotUsb:
        return {};
    case PortDetails::Kind::Ftdi:
        break;
    }
    if (port.latencyTimerMs == 1)
        return {};
    switch (system) {
    case HostSystem::Windows:
        return QStringLiteral("Адаптер FTDI держит каждый ответ до конца своего таймера задержки (%1). "
                              "Уменьшите таймер до 1 мс (нужны права администратора): Диспетчер устройств → "
                              "порт %2 → Свойства → Port Settings → Advanced → Latency Timer (msec) = 1, "
                              "затем выберите порт в программе заново.")
            .arg(timerNow(port), port.name);
    case HostSystem::Linux:
        switch (flag) {
        case LowLatency::Lowered:
        case LowLatency::AlreadyOn:
            return {};
        case LowLatency::NotOpen:
            return QStringLiteral("Адаптер FTDI держит каждый ответ до конца своего таймера задержки (%1). "
                                  "Открывая порт, программа сама включает режим малой задержки (1 мс); если это "
                                  "не удаётся, задайте таймер правилом udev (от root, например в файле "
                                  "/etc/udev/rules.d/99-ftdi-latency.rules) и переподключите адаптер: %2")
                .arg(timerNow(port), kUdevRule);
        case LowLatency::Unsupported:
        case LowLatency::Refused:
            return QStringLiteral("Адаптер FTDI держит каждый ответ до конца своего таймера задержки (%1), а "
                                  "режим малой задержки драйвер включить не дал. Задайте таймер 1 мс правилом "
                                  "udev (от root, например в файле /etc/udev/rules.d/99-ftdi-latency.rules) и "
                                  "переподключите адаптер: %2")
                .arg(timerNow(port), kUdevRule);
        }
        break;
    case HostSystem::Other:
        break;
    }
    return {};
}

} // namespace texts

} // namespace tarvil
