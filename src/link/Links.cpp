#include "link/Links.h"

#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"
#include "model/ConfigImage.h"

namespace tarvil {

Links::Links(LinkView &view, Dialogs &dialogs, ConfigImage &image, const LinkConfig &config,
             std::unique_ptr<SerialPort> serial, std::unique_ptr<UdpEndpoint> udp, QObject *parent)
    : QObject(parent), config_(config), image_(image),
      lan_(view, dialogs, stop_, config, std::move(udp), this),
      usb_(view, dialogs, deferred_, stop_, config, std::move(serial), this),
      write_(view, dialogs, deferred_, active_,
             [this] { return read_.state() != ReadTransaction::State::Idle || lan_.connecting(); }, image, packets_,
             lan_, usb_, this),
      read_(view, dialogs, deferred_, image, lan_, this)
{
    setObjectName(QStringLiteral("Links"));
    connect(&lan_, &LanLink::chosen, this, [this] { active_ = Channel::Lan; });
    connect(&usb_, &UsbLink::chosen, this, [this] { active_ = Channel::Usb; });
    connect(&usb_, &UsbLink::unusable, this, [this] { active_ = Channel::None; });
    connect(&usb_, &UsbLink::lost, this, [this] {
        if (active_ == Channel::Usb)
            active_ = Channel::None;
    });
}

Links::~Links()
{
    // Nothing posted for the parts runs once they are gone.
    stop_.set();
}

void Links::formShow()
{
    packets_.clear();
    image_.clearRecords();
    stop_.clear();
    lan_.reportBindFailure();
}

void Links::stopTimersForExit() { lan_.stopTimersForExit(); }

void Links::shutdown()
{
    stop_.set();
    write_.shutdown();
    read_.shutdown();
    lan_.shutdown();
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
