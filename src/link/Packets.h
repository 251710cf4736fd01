#pragma once

#include "model/ConfigImage.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace tarvil {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final XOR. "123456789" gives 0x31C3. A length of 0
// or less gives 0.
std::uint16_t Crc16(const std::uint8_t *bytes, int length);

inline constexpr std::uint8_t kDataMarker = ';';
inline constexpr std::uint8_t kPollMarker = '#';
inline constexpr int kPacketSize = 6;

// marker, address low, address high, data, CRC high, CRC low
struct WritePacket {
    std::array<std::uint8_t, kPacketSize> bytes{};

    static WritePacket make(std::uint8_t marker, std::uint16_t address, std::uint8_t data);
    std::uint16_t address() const { return std::uint16_t(bytes[1] | (bytes[2] << 8)); }
    std::uint8_t data() const { return bytes[3]; }
    QByteArray toByteArray() const { return QByteArray(reinterpret_cast<const char *>(bytes.data()), kPacketSize); }
};

// The poll packet of the USB link: '#', 01 01 01, CRC.
WritePacket PollPacket();

// The packets of the last build, one per image address in ascending order.
class PacketList {
public:
    void clear() { packets_.clear(); }
    void append(std::uint8_t marker, std::uint16_t address, std::uint8_t data)
    {
        packets_.push_back(WritePacket::make(marker, address, data));
    }
    int count() const { return static_cast<int>(packets_.size()); }
    bool isEmpty() const { return packets_.empty(); }
    const WritePacket &at(int i) const { return packets_.at(static_cast<size_t>(i)); }

    // Clears the list and fills it with the 14 202 packets of the image.
    void buildFrom(const ConfigImage &image);

private:
    std::vector<WritePacket> packets_;
};

} // namespace tarvil
