// The USB link's receive path over any sequence of byte chunks, watch
// expiries and write starts: nothing crashes, and every frame the link writes
// waits for an answer before the next (at most one frame in flight: a link
// that writes a frame without a reply or a watch expiry since the last one
// has lost track of what the bytes answer).
#include "FuzzCheck.h"
#include "LinkFakes.h"

#include "link/Links.h"
#include "model/ConfigImage.h"

#include <QCoreApplication>

#include <cstdint>
#include <memory>

using namespace tarvil;
using namespace tarvil::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_usbreceive";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    NullView view;
    ConfigImage image;
    auto serial = std::make_unique<FakeSerial>();
    FakeSerial *port = serial.get();
    LinkConfig config;
    Links links(view, view, image, config, std::move(serial), std::make_unique<FakeUdp>());
    UsbLink &usb = links.usb();
    usb.USB1Click();
    FUZZ_REQUIRE(port->frames == 1);

    // A short stream, so that inputs reach its end.
    PacketList packets;
    for (std::uint16_t address = 0; address < 3; ++address)
        packets.append(';', address, std::uint8_t(address));

    int writtenBefore = port->frames;
    bool answeredOrExpired = false;
    size_t i = 0;
    while (i < size) {
        const std::uint8_t op = data[i++];
        switch (op % 5) {
        case 0:
        case 1: { // a chunk of bytes: 1..8 of them
            const size_t n = std::min<size_t>(size_t(op >> 5) + 1, size - i);
            const QByteArray chunk(reinterpret_cast<const char *>(data + i), int(n));
            i += n;
            port->input.append(chunk);
            usb.ComPortTriggerAvail();
            for (const char c : chunk)
                if (c == 0x01 || c == 0x02 || c == 0x15 || c == 0x25)
                    answeredOrExpired = true;
            break;
        }
        case 2:
            usb.ComPortTriggerTimer();
            answeredOrExpired = true;
            break;
        case 3:
            usb.startWrite(packets);
            break;
        case 4:
            usb.TimerUsbWriteTimer();
            answeredOrExpired = true;
            break;
        }
        const int written = port->frames - writtenBefore;
        // One frame per reply or expiry, and a write start may send one.
        FUZZ_REQUIRE(written <= 1 || answeredOrExpired);
        FUZZ_REQUIRE(written <= 2);
        if (written > 0) {
            writtenBefore = port->frames;
            answeredOrExpired = false;
        }
    }
    QCoreApplication::processEvents(); // the boxes posted for after the handlers
    return 0;
}
