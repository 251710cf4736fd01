// The LAN link's receive path over any sequence of datagrams, in every step
// of the link: nothing crashes, every step keeps a value of LinkState, a
// read never stores more than the image holds, and a step that has had its
// answer takes no more.
#include "FuzzCheck.h"
#include "LinkFakes.h"

#include "link/Links.h"
#include "model/ConfigImage.h"

#include <QCoreApplication>

#include <cstdint>
#include <memory>

using namespace tarvil;
using namespace tarvil::fuzz;

namespace {

const QString kPeer = QStringLiteral("127.0.0.2");

bool known(LinkState s)
{
    switch (s) {
    case lsConnecting: case lsIdle: case lsWaitBlockAck: case lsWaitReady: case lsAcknowledged:
    case lsFailed: case lsWaitResult: case lsReading: case lsReadDone:
        return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_lanreceive";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size < 1)
        return 0;

    NullView view;
    ConfigImage image;
    auto udp = std::make_unique<FakeUdp>();
    FakeUdp *port = udp.get();
    LinkConfig config;
    Links links(view, view, image, config, std::make_unique<FakeSerial>(), std::move(udp));
    port->setRemoteHost(kPeer, 9999);
    LanLink &lan = links.lan();
    int stored = 0;
    QObject::connect(&lan, &LanLink::readStored, [&](int bytes) { stored += bytes; });

    // The first byte chooses the step the datagrams find.
    ConfigImage target;
    switch (data[0] % 6) {
    case 0: break; // connecting
    case 1: lan.request("AT+DATF", lsWaitReady, 7); break;
    case 2: lan.request("BLOCK", lsWaitBlockAck, 7); break;
    case 3: lan.request("AT+CONFIG", lsWaitResult, 19); break;
    case 4: lan.beginRead(target, 7); break;
    case 5: lan.release(false); break; // idle, as a transaction leaves it
    }

    // Then datagrams: a control byte (bit 7: from another host, bit 6: a timer
    // tick first), a length byte, the bytes.
    size_t i = 1;
    while (i + 2 <= size) {
        const std::uint8_t control = data[i];
        int length = data[i + 1] | ((control & 0x01) << 8); // up to 511, past the buffer
        i += 2;
        length = int(std::min<size_t>(size_t(length), size - i));
        const QByteArray datagram(reinterpret_cast<const char *>(data + i), length);
        i += size_t(length);
        if (control & 0x40) {
            if (control & 0x20)
                lan.TimerWaitAckTimer();
            else
                lan.TimerWaitBlockTimer();
        }
        const LinkState before = lan.state();
        port->deliver(datagram, (control & 0x80) ? QStringLiteral("127.0.0.3") : kPeer);
        const LinkState after = lan.state();
        FUZZ_REQUIRE(known(after));
        if (before == lsAcknowledged || before == lsReadDone || before == lsIdle || before == lsFailed)
            FUZZ_REQUIRE(after == before);
        if (control & 0x80)
            FUZZ_REQUIRE(after == before);
    }
    FUZZ_REQUIRE(stored <= kImageSize + 60 * 235);
    FUZZ_REQUIRE(view.boxes == 0);
    return 0;
}
