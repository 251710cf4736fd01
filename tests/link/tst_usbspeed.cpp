// How fast the adapter answers and what the tool makes of it: the median of
// the answers, the low-latency flag set and put back through the seam, what
// the system tells of a port (sysfs, or the registry on Windows), and the
// lines, the gauge's text and the advice an installer reads.
#include "support/FakeAdapters.h"

#include "link/AnswerTimes.h"
#include "link/PortInfo.h"
#include "link/SerialFlags.h"
#include "link/UsbPace.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace tarvil;
using namespace std::chrono_literals;

namespace {

PortDetails port(const char *driver, std::optional<quint16> vendor = {}, std::optional<int> timer = {})
{
    PortDetails p;
    p.name = QStringLiteral("COM5");
    p.driver = QString::fromLatin1(driver);
    p.vendorId = vendor;
    p.latencyTimerMs = timer;
    return p;
}

} // namespace

Q_DECLARE_METATYPE(PortDetails)
Q_DECLARE_METATYPE(HostSystem)
Q_DECLARE_METATYPE(LowLatency)

class UsbSpeedTest : public QObject {
    Q_OBJECT
private slots:
    void median_ofTheLastAnswers_data()
    {
        QTest::addColumn<QList<int>>("answersUs");
        QTest::addColumn<int>("medianUs"); // -1: none yet
        QTest::newRow("none yet") << QList<int>{} << -1;
        QTest::newRow("one") << QList<int>{16000} << 16000;
        QTest::newRow("odd count, a late one among them") << QList<int>{16100, 250000, 15900} << 16100;
        QTest::newRow("even count: the mean of the middle two") << QList<int>{1000, 3000, 2000, 9000} << 2500;
        QList<int> old(40, 16000); // 40 answers at 16 ms, then 32 at 1 ms: the old are forgotten
        QTest::newRow("only the last 32 count") << (old + QList<int>(32, 1000)) << 1000;
    }
    void median_ofTheLastAnswers()
    {
        QFETCH(QList<int>, answersUs);
        QFETCH(int, medianUs);
        AnswerTimes times;
        for (int us : answersUs)
            times.add(std::chrono::microseconds(us));
        QCOMPARE(times.count(), std::min<int>(int(answersUs.size()), AnswerTimes::kKept));
        QCOMPARE(times.median().has_value(), medianUs >= 0);
        if (medianUs >= 0)
            QCOMPARE(std::chrono::duration_cast<std::chrono::microseconds>(*times.median()).count(), medianUs);
        times.clear();
        QVERIFY(!times.median());
    }

    void lowLatencyFlag_setWhereTheDriverTakesIt_andPutBack_data()
    {
        QTest::addColumn<std::optional<int>>("flags");
        QTest::addColumn<bool>("accepts");
        QTest::addColumn<LowLatency>("state");
        QTest::addColumn<QList<int>>("written"); // at open, then at close
        const int other = 0x10000040; // flags of the driver's own that must survive
        QTest::newRow("taken, and the earlier flags put back")
            << std::optional<int>(other) << true << LowLatency::Lowered
            << QList<int>{other | kLowLatencyFlag, other};
        QTest::newRow("refused: nothing to put back")
            << std::optional<int>(other) << false << LowLatency::Refused << QList<int>{other | kLowLatencyFlag};
        QTest::newRow("no flags at all (a pseudo-terminal)")
            << std::optional<int>() << true << LowLatency::Unsupported << QList<int>{};
        QTest::newRow("already on: left as it is")
            << std::optional<int>(other | kLowLatencyFlag) << true << LowLatency::AlreadyOn << QList<int>{};
    }
    void lowLatencyFlag_setWhereTheDriverTakesIt_andPutBack()
    {
        QFETCH(std::optional<int>, flags);
        QFETCH(bool, accepts);
        QFETCH(LowLatency, state);
        QFETCH(QList<int>, written);
        test::FakeSerialFlags driver;
        driver.flags = flags;
        driver.accepts = accepts;
        LowLatencySwitch flag;
        QCOMPARE(flag.lower(driver, 3), state);
        QCOMPARE(flag.state(), state);
        flag.restore(driver, 3);
        QCOMPARE(driver.written, written);
        QCOMPARE(driver.flags, flags);
        QCOMPARE(flag.state(), LowLatency::NotOpen);
    }

    void adapterLine_andGauge_data()
    {
        QTest::addColumn<int>("answerUs");
        QTest::addColumn<int>("framesLeft");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("gauge");
        QTest::addColumn<bool>("slow");
        QTest::newRow("FTDI's default timer") << 16000 << 14203
                                              << "Адаптер USB: ответ за 16,0 мс на пакет; запись займёт около 3 мин 47 с."
                                              << "%p % · осталось 3:47" << true;
        QTest::newRow("the timer at 1 ms") << 1049 << 14203
                                           << "Адаптер USB: ответ за 1,0 мс на пакет; запись займёт около 15 с."
                                           << "%p % · осталось 0:15" << false;
        QTest::newRow("just under 4 ms, shown as 4,0") << 3960 << 9000
                                                       << "Адаптер USB: ответ за 4,0 мс на пакет; запись займёт около 36 с."
                                                       << "%p % · осталось 0:36" << true;
        QTest::newRow("a slow bridge: over an hour") << 300000 << 14203
                                                     << "Адаптер USB: ответ за 300,0 мс на пакет; запись займёт около 71 мин 1 с."
                                                     << "%p % · осталось 1:11:01" << true;
    }
    void adapterLine_andGauge()
    {
        QFETCH(int, answerUs);
        QFETCH(int, framesLeft);
        QFETCH(QString, line);
        QFETCH(QString, gauge);
        QFETCH(bool, slow);
        UsbPace pace;
        pace.answer = std::chrono::microseconds(answerUs);
        pace.framesLeft = framesLeft;
        QCOMPARE(texts::usbAdapterLine(pace), line);
        QCOMPARE(texts::gaugeFormat(pace.left()), gauge);
        QCOMPARE(pace.slow(), slow);
        // The tooltip names the answer time, and the way to lower it only where it is slow.
        pace.advice = QStringLiteral("совет");
        const QString tip = texts::gaugeToolTip(pace);
        QVERIFY(tip.startsWith(QStringLiteral("Адаптер USB отвечает за ") + texts::answerMilliseconds(pace.answer)));
        QCOMPARE(tip.endsWith(QStringLiteral("\nсовет")), slow);
    }

    void advice_forEachAdapterKind_data()
    {
        QTest::addColumn<PortDetails>("port");
        QTest::addColumn<HostSystem>("system");
        QTest::addColumn<LowLatency>("flag");
        QTest::addColumn<QStringList>("says"); // empty: no advice
        const QStringList deviceManager{"Диспетчер устройств", "Latency Timer (msec) = 1", "COM5", "сейчас 16 мс"};
        const QStringList udev{R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")"};
        QTest::newRow("Windows, FTDI's driver") << port("FTSER2K", 0x0403, 16) << HostSystem::Windows
                                               << LowLatency::Unsupported << deviceManager;
        QTest::newRow("Windows, FTDI known by its vendor alone")
            << port("", 0x0403) << HostSystem::Windows << LowLatency::Unsupported
            << QStringList{"Диспетчер устройств", "обычно 16 мс"};
        QTest::newRow("Windows, FTDI's timer already at 1 ms")
            << port("FTSER2K", 0x0403, 1) << HostSystem::Windows << LowLatency::Unsupported << QStringList{};
        QTest::newRow("Linux, FTDI, the flag refused") << port("ftdi_sio", 0x0403, 16) << HostSystem::Linux
                                                      << LowLatency::Refused << (udev + QStringList{"не дал"});
        QTest::newRow("Linux, FTDI, a driver without the flag")
            << port("ftdi_sio", 0x0403, 16) << HostSystem::Linux << LowLatency::Unsupported << udev;
        QTest::newRow("Linux, FTDI, the flag set: nothing to do")
            << port("ftdi_sio", 0x0403, 16) << HostSystem::Linux << LowLatency::Lowered << QStringList{};
        QTest::newRow("Linux, FTDI, not open (the port list)")
            << port("ftdi_sio", 0x0403, 16) << HostSystem::Linux << LowLatency::NotOpen
            << (udev + QStringList{"сама включает"});
        QTest::newRow("CDC-ACM on Linux") << port("cdc_acm", 0x2341) << HostSystem::Linux << LowLatency::Unsupported
                                          << QStringList{"CDC-ACM", "нечего"};
        QTest::newRow("CDC-ACM on Windows") << port("usbser", 0x2341) << HostSystem::Windows
                                            << LowLatency::Unsupported << QStringList{"CDC-ACM", "нечего"};
        QTest::newRow("another bridge") << port("cp210x", 0x10c4) << HostSystem::Linux << LowLatency::Unsupported
                                        << QStringList{};
        QTest::newRow("no adapter (a pseudo-terminal)") << port("") << HostSystem::Linux << LowLatency::Unsupported
                                                        << QStringList{};
    }
    void advice_forEachAdapterKind()
    {
        QFETCH(PortDetails, port);
        QFETCH(HostSystem, system);
        QFETCH(LowLatency, flag);
        QFETCH(QStringList, says);
        const QString advice = texts::latencyAdvice(port, system, flag);
        QCOMPARE(advice.isEmpty(), says.isEmpty());
        for (const QString &s : says)
            QVERIFY2(advice.contains(s), qPrintable(advice));
        // With no advice of its own, a slow adapter's line still says so.
        UsbPace pace;
        pace.advice = advice;
        QVERIFY(!texts::usbAdviceLine(pace).isEmpty());
    }

#ifndef Q_OS_WIN
    void portInfo_readsTheDriverAndTheTimerFromSysfs()
    {
        // A sysfs of its own: an FTDI adapter as ttyUSB0, a CDC-ACM one as
        // ttyACM0 (no timer), and the links as the kernel makes them.
        QTemporaryDir sys;
        QVERIFY(sys.isValid());
        const QDir root(sys.path());
        QVERIFY(root.mkpath("bus/usb-serial/drivers/ftdi_sio") && root.mkpath("bus/usb/drivers/cdc_acm"));
        QVERIFY(root.mkpath("devices/usb1/1-1/ttyUSB0") && root.mkpath("devices/usb1/1-2/1-2:1.0"));
        QVERIFY(QFile::link(root.filePath("bus/usb-serial/drivers/ftdi_sio"), root.filePath("devices/usb1/1-1/ttyUSB0/driver")));
        QVERIFY(QFile::link(root.filePath("bus/usb/drivers/cdc_acm"), root.filePath("devices/usb1/1-2/1-2:1.0/driver")));
        QVERIFY(root.mkpath("class/tty/ttyUSB0") && root.mkpath("class/tty/ttyACM0") && root.mkpath("bus/usb-serial/devices"));
        QVERIFY(QFile::link(root.filePath("devices/usb1/1-1/ttyUSB0"), root.filePath("class/tty/ttyUSB0/device")));
        QVERIFY(QFile::link(root.filePath("devices/usb1/1-2/1-2:1.0"), root.filePath("class/tty/ttyACM0/device")));
        QVERIFY(QFile::link(root.filePath("devices/usb1/1-1/ttyUSB0"), root.filePath("bus/usb-serial/devices/ttyUSB0")));
        QFile timer(root.filePath("devices/usb1/1-1/ttyUSB0/latency_timer"));
        QVERIFY(timer.open(QIODevice::WriteOnly));
        timer.write("16\n");
        timer.close();

        const PortInfo info(sys.path());
        PortDetails ftdi;
        ftdi.name = QStringLiteral("/dev/ttyUSB0");
        info.complete(ftdi);
        QCOMPARE(ftdi.driver, QStringLiteral("ftdi_sio"));
        QCOMPARE(ftdi.latencyTimerMs, std::optional<int>(16));
        QCOMPARE(ftdi.kind(), PortDetails::Kind::Ftdi);

        PortDetails acm;
        acm.name = QStringLiteral("/dev/ttyACM0");
        info.complete(acm);
        QCOMPARE(acm.driver, QStringLiteral("cdc_acm"));
        QVERIFY(!acm.latencyTimerMs);
        QCOMPARE(acm.kind(), PortDetails::Kind::CdcAcm);

        PortDetails none;
        none.name = QStringLiteral("/dev/pts/7");
        info.complete(none);
        QVERIFY(none.driver.isEmpty() && !none.latencyTimerMs);
        QCOMPARE(none.kind(), PortDetails::Kind::NotUsb);
    }
#else
    void portInfo_readsFtdisTimerAndTheServiceFromTheRegistry()
    {
        // Keys as FTDI's driver and Windows' usbser make them, in this Wine
        // prefix: one FTDI adapter on COM47, one CDC-ACM device on COM48.
        const QString ftdi = QStringLiteral(R"(SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6015+TARVILTESTA\0000)");
        const QString acm = QStringLiteral(R"(SYSTEM\CurrentControlSet\Enum\USB\VID_2341&PID_0043\TARVILTEST)");
        auto set = [](const QString &path, const wchar_t *name, DWORD type, const void *data, DWORD size) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t *>(path.utf16()), 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
                return false;
            const bool ok = RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size) == ERROR_SUCCESS;
            RegCloseKey(key);
            return ok;
        };
        const DWORD sixteen = 16;
        const wchar_t com47[] = L"COM47";
        const wchar_t com48[] = L"COM48";
        const wchar_t ftser[] = L"FTSER2K";
        const wchar_t usbser[] = L"usbser";
        if (!set(ftdi + QStringLiteral("\\Device Parameters"), L"PortName", REG_SZ, com47, sizeof com47))
            QSKIP("the registry under HKLM is not writable here (it is in make windows-test's Wine prefix)");
        QVERIFY(set(ftdi + QStringLiteral("\\Device Parameters"), L"LatencyTimer", REG_DWORD, &sixteen, sizeof sixteen));
        QVERIFY(set(ftdi, L"Service", REG_SZ, ftser, sizeof ftser));
        QVERIFY(set(acm + QStringLiteral("\\Device Parameters"), L"PortName", REG_SZ, com48, sizeof com48));
        QVERIFY(set(acm, L"Service", REG_SZ, usbser, sizeof usbser));

        const PortInfo info;
        const PortDetails f = info.describe(QStringLiteral("COM47"));
        QCOMPARE(f.driver, QStringLiteral("FTSER2K"));
        QCOMPARE(f.latencyTimerMs, std::optional<int>(16));
        QCOMPARE(f.vendorId, std::optional<quint16>(0x0403));
        QCOMPARE(f.productId, std::optional<quint16>(0x6015));
        const QString advice = texts::latencyAdvice(f, hostSystem(), LowLatency::Unsupported);
        QVERIFY2(advice.contains(QStringLiteral("Latency Timer (msec) = 1")) && advice.contains(QStringLiteral("COM47"))
                     && advice.contains(QStringLiteral("сейчас 16 мс")),
                 qPrintable(advice));

        const PortDetails a = info.describe(QStringLiteral("com48"));
        QCOMPARE(a.driver, QStringLiteral("usbser"));
        QCOMPARE(a.kind(), PortDetails::Kind::CdcAcm);
        QCOMPARE(a.vendorId, std::optional<quint16>(0x2341));
        QVERIFY(texts::latencyAdvice(a, hostSystem(), LowLatency::Unsupported).contains(QStringLiteral("CDC-ACM")));

        QCOMPARE(info.describe(QStringLiteral("COM46")).kind(), PortDetails::Kind::NotUsb);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, LR"(SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6015+TARVILTESTA)");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t *>(acm.utf16()));
    }
#endif
};

QTEST_GUILESS_MAIN(UsbSpeedTest)
#include "tst_usbspeed.moc"
