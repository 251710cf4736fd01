// tarvil-sim: the transceiver on this machine, for trying the tool without
// hardware. See --help and README.md.

#include "LanSimulator.h"
#include "SampleImage.h"
#include "SimControl.h"
#include "SimOptions.h"
#include "UsbSimulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace tarvil::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void say(const QString &line) { out() << line << Qt::endl; }

bool loadImage(const QString &path, QByteArray *image)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        err() << "tarvil-sim: cannot read " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    const QByteArray bytes = file.read(kImageBytes + 1);
    if (bytes.size() != kImageBytes) {
        err() << "tarvil-sim: " << path << " holds " << bytes.size() << " bytes, not an image of " << kImageBytes
              << "; not started, and the file is left as it is" << Qt::endl;
        return false;
    }
    *image = bytes;
    return true;
}

void saveImage(const QString &path, const QByteArray &image)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        err() << "tarvil-sim: cannot write the image to " << path << ": " << file.errorString() << Qt::endl;
        return;
    }
    say(QStringLiteral("image written to %1").arg(path));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParsedOptions parsed = parseSimOptions(arguments);
    if (!parsed.options) {
        err() << "tarvil-sim: " << parsed.error << "\nTry tarvil-sim --help." << Qt::endl;
        return 2;
    }
    const SimOptions &o = *parsed.options;
    if (o.help) {
        out() << simHelpText() << Qt::flush;
        return 0;
    }

    // A test program's simulator: the LAN side alone, driven through the
    // control connection, ended with it.
    if (o.controlPort != 0) {
        LanSimulator lan;
        UsbSimulator usb;
        QString why;
        if (!serveControl(lan, usb, o.controlPort, &why)) {
            err() << "tarvil-sim: --control: " << why << Qt::endl;
            return 1;
        }
        return QCoreApplication::exec();
    }

    QByteArray image = sampleImage();
    if (!o.imageFile.isEmpty()) {
        if (!loadImage(o.imageFile, &image))
            return 1;
    }

    // One transceiver behind both links: what one link writes, the other reads.
    LanSimulator lan;
    UsbSimulator usb;
    lan.setImage(image);
    usb.setImage(image);
    lan.setLogging(!o.quiet);
    usb.setLogging(!o.quiet);
    usb.setRecordFrames(false);
    QObject::connect(&lan, &LanSimulator::logLine, &say);
    QObject::connect(&usb, &UsbSimulator::logLine, &say);
    QObject::connect(&usb, &UsbSimulator::frameReceived, &lan, [&lan](const UsbFrame &f) {
        if (f.stored)
            lan.setImageByte(f.address, f.data);
    });
    QObject::connect(&lan, &LanSimulator::writeCompleted, &usb, [&] {
        usb.setImage(lan.image());
        if (!o.imageFile.isEmpty())
            saveImage(o.imageFile, lan.image());
    });
    QObject::connect(&usb, &UsbSimulator::writeCompleted, &lan, [&] {
        if (!o.imageFile.isEmpty())
            saveImage(o.imageFile, usb.image());
    });
    QObject::connect(&usb, &UsbSimulator::closed, &app, [] {
        say(QStringLiteral("USB: pseudo-terminal closed; restart tarvil-sim for a new one"));
    });

    if (o.lan) {
        if (!lan.setFaults(o.lanFaults) || !lan.start(o.lanAddress, o.lanPort)) {
            err() << "tarvil-sim: LAN: " << lan.errorString() << Qt::endl;
            return 1;
        }
        say(QStringLiteral("LAN: listening on %1:%2 - enter %1 as the transceiver's address in the tool")
                .arg(lan.address().toString())
                .arg(lan.port()));
    }
    if (o.usb) {
        if (!usb.open()) {
            err() << "tarvil-sim: USB: " << usb.errorString() << Qt::endl;
            return 1;
        }
        usb.setFaults(o.usbFaults);
        say(QStringLiteral("USB: %1 - type this path into the tool's port chooser").arg(usb.devicePath()));
    }
    if (o.lanFaults.any() || o.usbFaults.any())
        say(QStringLiteral("faults are on (see the options given)"));
    if (o.usb && o.usbFaults.latency.count() > 0)
        say(QStringLiteral("USB: every answer leaves %1 ms after its frame, as a USB bridge's latency timer holds it")
                .arg(o.usbFaults.latency.count()));
    say(QStringLiteral("Ctrl+C ends the simulator."));

    if (::pipe(signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(qintptr(signalPipe[0]), QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char byte;
            (void)!::read(signalPipe[0], &byte, 1);
            QCoreApplication::quit();
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    const int code = QCoreApplication::exec();
    say(QStringLiteral("LAN: %1 writes, %2 failed writes, %3 reads; USB: %4 writes, %5 polls, %6 data packets")
            .arg(lan.writesCompleted())
            .arg(lan.writesFailed())
            .arg(lan.readsCompleted())
            .arg(usb.writesCompleted())
            .arg(usb.polls())
            .arg(usb.dataPackets()));
    return code;
}
