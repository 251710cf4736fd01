// The real serial-port adapter on a pseudo-terminal: it opens although the
// terminal has no modem lines, moves bytes both ways, reports a vanished
// device once, closing the port, and sets the driver's low-latency flag
// where the driver takes it, putting the flags back when the port closes;
// what the system holds can be taken without a turn of the event loop.
#include "support/FakeAdapters.h"

#include "link/SerialPort.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QThread>
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
        // A pseudo-terminal keeps no driver flags: nothing changes, and that
        // is no error.
        QCOMPARE(port.lowLatency(), LowLatency::Unsupported);
        QVERIFY(port.details().vendorId == std::nullopt);
    }

    void fetchWaiting_takesWhatTheSystemHolds_behindQtsOwnBytes()
    {
        Pty pty;
        QtSerialPort port;
        SerialPort::OpenError error;
        QString reason;
        QVERIFY2(port.open(pty.slave, &error, &reason), qPrintable(reason));
        QCOMPARE(::write(pty.master, "\x01", 1), ssize_t(1));
        QTRY_COMPARE(port.bytesAvailable(), qint64(1)); // read by Qt, through the event loop

        // From here on the event loop does not turn: only fetchWaiting() can
        // take these, and not while Qt still holds an older byte.
        QCOMPARE(::write(pty.master, "\x15\x06", 2), ssize_t(2));
        QThread::msleep(20);
        QCOMPARE(port.fetchWaiting(), qint64(0));
        QCOMPARE(port.readByte(), 0x01);
        qint64 taken = 0;
        QDeadlineTimer deadline(5000);
        while (taken < 2 && !deadline.hasExpired()) {
            taken += port.fetchWaiting();
            QThread::msleep(1);
        }
        QCOMPARE(taken, qint64(2));
        QCOMPARE(port.bytesAvailable(), qint64(2));
        QCOMPARE(port.readByte(), 0x15);
        QCOMPARE(port.readByte(), 0x06);
        QCOMPARE(port.readByte(), -1);
        QCOMPARE(port.fetchWaiting(), qint64(0)); // nothing held

        // Taken but not read when the port closes: gone with it.
        QCOMPARE(::write(pty.master, "\x01", 1), ssize_t(1));
        deadline.setRemainingTime(5000);
        while (port.fetchWaiting() == 0 && !deadline.hasExpired())
            QThread::msleep(1);
        port.close();
        QCOMPARE(port.bytesAvailable(), qint64(0));
        QVERIFY2(port.open(pty.slave, &error, &reason), qPrintable(reason));
        QCOMPARE(port.bytesAvailable(), qint64(0));
        QCOMPARE(port.readByte(), -1);
    }

    void lowLatencyFlag_setOnOpen_andTheFlagsPutBackOnClose_data()
    {
        QTest::addColumn<bool>("accepts");
        QTest::addColumn<bool>("vanishes"); // the device goes away instead of a close
        QTest::newRow("taken, then closed") << true << false;
        QTest::newRow("taken, then the device vanishes") << true << true;
        QTest::newRow("refused") << false << false;
    }
    void lowLatencyFlag_setOnOpen_andTheFlagsPutBackOnClose()
    {
        QFETCH(bool, accepts);
        QFETCH(bool, vanishes);
        Pty pty;
        auto flags = std::make_unique<test::FakeSerialFlags>();
        test::FakeSerialFlags *driver = flags.get();
        const int earlier = 0x10000040;
        driver->flags = earlier;
        driver->accepts = accepts;
        QtSerialPort port(nullptr, std::move(flags));
        QVERIFY(port.open(pty.slave, nullptr, nullptr));
        QCOMPARE(port.lowLatency(), accepts ? LowLatency::Lowered : LowLatency::Refused);
        QCOMPARE(driver->written, QList<int>{earlier | kLowLatencyFlag});

        if (vanishes) {
            QSignalSpy failed(&port, &SerialPort::failed);
            pty.closeMaster();
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        } else {
            port.close();
        }
        QVERIFY(!port.isOpen());
        // Only a change that was made is undone.
        const QList<int> back = accepts ? QList<int>{earlier | kLowLatencyFlag, earlier} : QList<int>{earlier | kLowLatencyFlag};
        QCOMPARE(driver->written, back);
        QCOMPARE(port.lowLatency(), LowLatency::NotOpen);
        port.close();
        QCOMPARE(driver->written, back);
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
