#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

// The simulator's USB end is a POSIX pseudo-terminal. On Windows (the suite
// runs under Wine) nothing can reach it, so a test that exchanges bytes over
// USB skips there, and says why.
#ifdef Q_OS_WIN
#define TARVIL_SKIP_USB_EXCHANGE()                                                                                     \
    QSKIP("USB exchange with the simulator: its device end is a POSIX pseudo-terminal, out of reach on Windows")
#else
#define TARVIL_SKIP_USB_EXCHANGE() static_cast<void>(0)
#endif

namespace tarvil::test {

// The UDP port CTest gave this test executable, so that tests run in parallel.
inline quint16 udpPort()
{
    const QByteArray value = qgetenv("TARVIL_TEST_UDP_PORT");
    bool ok = false;
    const int port = value.toInt(&ok);
    return ok && port > 0 && port < 65536 ? quint16(port) : quint16(21000);
}

// The project's data folder (the sample CentralType.txt).
inline QString dataDir()
{
    const QByteArray value = qgetenv("TARVIL_TEST_DATA");
    return value.isEmpty() ? QStringLiteral("data") : QString::fromLocal8Bit(value);
}

// Runs a real event loop until `done` holds or `ms` have passed. QTest::qWaitFor
// sleeps between its turns, which would slow an exchange of many frames to a
// crawl and distort what a benchmark measures.
bool runUntil(const std::function<bool()> &done, int ms);

} // namespace tarvil::test
