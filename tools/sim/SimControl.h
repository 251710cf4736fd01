#pragma once

// The control connection of a simulator that runs as a program of its own:
// a test program drives the LAN side through it as it drives a LanSimulator
// in-process, and the USB side as a UsbSimulator. One JSON object a line
// each way: a command and its answer.
//
//     {"cmd":"start","address":"127.0.0.2","port":21170}   -> {"ok":true}
//     {"cmd":"setFaults","faults":{...}}                   -> {"ok":true}
//     {"cmd":"state"}   -> {"image":"<base64>","received":[...],"writesCompleted":1,...}
//     {"cmd":"openUsb","link":"/path/com12"}               -> {"ok":true,"path":"/dev/pts/7"}
//     {"cmd":"setUsbFaults","faults":{"latency":6,...}}    -> {"ok":true}
//     {"cmd":"usbState"} -> {"image":"<base64>","polls":12,"dataPackets":0,...}
//
// Every datagram and every USB frame heard comes as an event line of its own
// ({"event":"datagram",...}, {"event":"usbFrame",...}).
//
// The Windows tests need it: under Wine a UDP socket bound to 127.0.0.2 is
// bound to every loopback address, so a simulator inside the test program
// would take the tool's own datagrams; the native one does not.

#include "Faults.h"

#include <QJsonObject>

namespace tarvil::sim {

class LanSimulator;
class UsbSimulator;
struct LanDatagram;
struct UsbFrame;

QJsonObject lanFaultsToJson(const LanFaults &faults);
LanFaults lanFaultsFromJson(const QJsonObject &json);
QJsonObject usbFaultsToJson(const UsbFaults &faults);
UsbFaults usbFaultsFromJson(const QJsonObject &json);
QJsonObject datagramToJson(const LanDatagram &datagram);
LanDatagram datagramFromJson(const QJsonObject &json);
QJsonObject usbFrameToJson(const UsbFrame &frame);
UsbFrame usbFrameFromJson(const QJsonObject &json);

#ifndef Q_OS_WIN
// Serves one connection on 127.0.0.1:`port` with the two simulators; the
// event loop quits when the connection closes, or when none comes within 20 s.
bool serveControl(LanSimulator &sim, UsbSimulator &usb, quint16 port, QString *error);
#endif

} // namespace tarvil::sim
