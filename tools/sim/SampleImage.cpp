#include "SampleImage.h"

#include "SimProtocol.h"

#include <iterator>

namespace tarvil::sim {

namespace {

struct SampleObject {
    const char *object;
    const char *account;
    std::uint8_t type;
    std::uint8_t protocol;
    const char *phone1;
    const char *phone2;
    std::uint32_t minutes;
    std::uint8_t af;     // from the transceiver's own panel list
    std::uint8_t format; // set by the transceiver alone
};

const SampleObject kObjects[] = {
    {"0001", "1001", 1, 1, "+79001234501", "", 15, 0, 0},
    {"0002", "1002", 3, 2, "+79001234502", "+79001234512", 30, 1, 0},
    {"0010", "2010", 6, 4, "84951234567", "", 60, 2, 1},
    {"0042", "4242", 8, 6, "+79001234542", "+79001234543", 120, 3, 2},
    {"0100", "0100", 9, 7, "2223344", "2223345", 1440, 0, 1},
};

} // namespace

QByteArray sampleImage()
{
    QByteArray image(kImageBytes, '\0');
    for (int k = 0; k < int(std::size(kObjects)); ++k) {
        using namespace recordField;
        const SampleObject &o = kObjects[k];
        const int at = k * kRecordBytes;
        putText(image, at + kPhone1, kPhoneWidth, o.phone1);
        putText(image, at + kPhone2, kPhoneWidth, o.phone2);
        putText(image, at + kAccount, kNumberWidth, o.account);
        putText(image, at + kObject, kNumberWidth, o.object);
        image[at + kType] = char(o.type);
        image[at + kProtocol] = char(o.protocol);
        putLe32(image, at + kTestSeconds, o.minutes * 60);
        image[at + kAF] = char(o.af);
        image[at + recordField::kFormat] = char(o.format);
    }

    using namespace commonField;
    const int at = kCommonOffset;
    image[at + kLanProtocol] = 0; // UDP
    image[at + kDhcp] = 0;        // off
    putIpv4(image, at + kMasterIp, 192, 168, 1, 10);
    putIpv4(image, at + kOwnIp, 192, 168, 1, 221);
    putIpv4(image, at + kGatewayIp, 192, 168, 1, 1);
    putLe32(image, at + kSerial, 12345);
    putLe16(image, at + kMasterPort, 5000);
    putLe16(image, at + kOwnPort, 9999);
    putText(image, at + kApn, kApnWidth, "internet");
    putLe16(image, at + kFixed9999, 9999);
    putText(image, at + kBaud, kBaudWidth, "115200");
    image[at + kReserved] = char(0x01);
    image[at + kReserved + 1] = char(0x1F);
    image[at + kReserved + 2] = char(0x0D);
    putLe32(image, at + commonField::kTestSeconds, 60);
    image[at + commonField::kFormat] = 1; // Sur-Gard Contact ID
    return image;
}

} // namespace tarvil::sim
