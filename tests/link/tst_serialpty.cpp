// The real serial-port adapter on a pseudo-terminal: it opens although the
// terminal has no modem lines, moves bytes both ways, and reports a vanished
// device once, closing the port.
#include "link/SerialPort.h"

#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace tarvil;

namespace {

struct Pty {
    int master = -1;
    QString slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        slave = QString::fromLocal8Bit(ptsname(master));
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    QByteArray readAll()
    {
        QByteArray out;
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, int(n));
        }
        return out;
    }
};

} // namespace

class SerialPtyTest : public QObject {
    Q_OBJECT
private slots:
    void opensAPseudoTerminalAndMovesBytes()
    {
        Pty pty;
        QVERIFY(!pty.slave.isEmpty());
        QtSerialPort port;
        SerialPort::OpenError error;
        QString reason;
        QVERIFY2(port.open(pty.slave, &error, &reason), qPrintable(reason));
        QVERIFY(port.isOpen());
        QCOMPARE(port.outputFree(), kSerialBufferSize);

        port.write(QByteArray::fromHex("230101 01B8B2"));
        QByteArray got;
        QTRY_VERIFY((got += pty.readAll()).size() >= 6);
        QCOMPARE(got, QByteArray::fromHex("230101 01B8B2"));

        QSignalSpy data(&port, &SerialPort::dataAvailable);
        QCOMPARE(::write(pty.master, "\x01\x15", 2), ssize_t(2));
        QTRY_VERIFY(port.bytesAvailable() == 2);
        QVERIFY(data.count() >= 1);
        QCOMPARE(port.readByte(), 0x01);
        QCOMPARE(port.readByte(), 0x15);
        QCOMPARE(port.readByte(), -1);
    }

    void aVanishedDevice_isReportedOnceAndThePortCloses()
    {
        Pty pty;
        QtSerialPort port;
        QVERIFY(port.open(pty.slave, nullptr, nullptr));
        QSignalSpy failed(&port, &SerialPort::failed);
        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QVERIFY(!port.isOpen());
        QTest::qWait(100);
        QCOMPARE(failed.count(), 1);
    }

    void aMissingDevice_doesNotOpen()
    {
        QtSerialPort port;
        SerialPort::OpenError error = SerialPort::OpenError::None;
        QString reason;
        QVERIFY(!port.open(QStringLiteral("/dev/ttyNOSUCHDEVICE9"), &error, &reason));
        QCOMPARE(error, SerialPort::OpenError::NotFound);
        QVERIFY(!port.isOpen());
    }
};

QTEST_GUILESS_MAIN(SerialPtyTest)
#include "tst_serialpty.moc"
