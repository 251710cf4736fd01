#include "link/Packets.h"

namespace tarvil {

std::uint16_t Crc16(const std::uint8_t *bytes, int length)
{
    std::uint16_t crc = 0;
    for (int i = 0; i < length; ++i) {
        crc ^= std::uint16_t(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
    }
    return crc;
}

WritePacket WritePacket::make(std::uint8_t marker, std::uint16_t address, std::uint8_t data)
{
    WritePacket p;
    p.bytes[0] = marker;
    p.bytes[1] = std::uint8_t(address & 0xFF);
    p.bytes[2] = std::uint8_t(address >> 8);
    p.bytes[3] = data;
    const std::uint16_t crc = Crc16(p.bytes.data(), 4);
    p.bytes[4] = std::uint8_t(crc >> 8);
    p.bytes[5] = std::uint8_t(crc & 0xFF);
    return p;
}

WritePacket PollPacket()
{
    return WritePacket::make(kPollMarker, 0x0101, 0x01);
}

void PacketList::buildFrom(const ConfigImage &image)
{
    packets_.clear();
    packets_.reserve(kImageSize);
    for (int address = 0; address < kImageSize; ++address)
        append(kDataMarker, std::uint16_t(address), image.at(address));
}

} // namespace tarvil
