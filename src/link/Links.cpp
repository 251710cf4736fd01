#include "link/Links.h"

#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"
#include "model/ConfigImage.h"

namespace tarvil {

Links::Links(LinkView &view, Dialogs &dialogs, ConfigImage &image, const LinkConfig &config,
             std::unique_ptr<SerialPort> serial, std::unique_ptr<UdpEndpoint> udp, QObject *parent)
    : QObject(parent), config_(config), image_(image), pump_(config.timings.pumpStep),
      lan_(view, dialogs, pump_, session_, config, std::move(udp), this),
      usb_(view, dialogs, deferred_, pump_, session_, config, std::move(serial), this),
      write_(view, dialogs, deferred_, session_, image, packets_, lan_, usb_, this),
      read_(view, dialogs, session_, image, lan_, this)
{
    setObjectName(QStringLiteral("Links"));
}

Links::~Links()
{
    // Waits still on the stack return without touching the parts.
    pump_.stop();
}

void Links::formShow()
{
    packets_.clear();
    image_.clearRecords();
    pump_.restart();
    lan_.reportBindFailure();
}

void Links::stopTimersForExit() { lan_.stopTimersForExit(); }

void Links::shutdown()
{
    pump_.stop();
    write_.shutdown();
    usb_.shutdown();
    packets_.clear();
}

void Links::LanClick()
{
    // The serial port is given up whatever follows, and a new USB choice asks
    // for the port again.
    usb_.releasePort();
    lan_.LanClick();
}

} // namespace tarvil
