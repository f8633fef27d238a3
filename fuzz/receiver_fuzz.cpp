// Any bytes arriving as the reply to any request kind, with any start box.
//
// Input: byte 0 picks the request kind (-1..8), byte 1 the length of the start
// box text that follows (Latin-1), the rest is the delivery.

#include "FuzzChecks.h"

#include "operations/NumberText.h"
#include "protocol/ResponseReceiver.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

constexpr int valueBoxes = 15;

QString hexOf(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString t;
    for (char b : bytes) {
        const auto u = std::uint8_t(b);
        t += QLatin1Char(' ');
        t += QLatin1Char(digits[u >> 4]);
        t += QLatin1Char(digits[u & 15]);
    }
    return t;
}

bool isHundredthsRow(int index)
{
    return index == 0 || index == 1 || (index >= 3 && index <= 8);
}

void checkRegisterValues(const kc::Delivery &d, const QByteArray &bytes, int start)
{
    using fuzz::require;
    static const QRegularExpression hundredths(QStringLiteral("^-?[0-9]+\\.[0-9][0-9]$"));
    static const QRegularExpression whole(QStringLiteral("^[0-9]+$"));
    if (d.values.isEmpty())
        return;
    // Values only come from a reply that carries its byte count and a good CRC.
    require(bytes.size() >= 3, "values from a reply shorter than its header");
    const int n = std::uint8_t(bytes[2]);
    require(bytes.size() >= n + 5, "values from a reply shorter than its byte count");
    require(fuzz::closedByCrc(bytes.left(n + 5)), "values from a reply with a bad CRC");
    require(!d.rejected, "a reply both decoded and rejected");
    require(d.values.size() <= n / 2, "more values than word pairs");
    int previous = -1;
    for (const kc::ValueText &v : d.values) {
        require(v.index >= 0 && v.index < valueBoxes, "value box index outside 0..14");
        require(v.index > previous, "value boxes out of order or repeated");
        require(v.index - start < n / 2, "value box past the words received");
        previous = v.index;
        const QRegularExpression &shape = isHundredthsRow(v.index) ? hundredths : whole;
        require(shape.match(v.text).hasMatch(), "value text of the wrong shape");
    }
}

void checkUpload(const kc::Delivery &d, const QByteArray &bytes)
{
    using fuzz::require;
    static const QRegularExpression reading(QStringLiteral("^-?[0-9]+(\\.[1-9])?$"));
    if (d.uploads.isEmpty())
        return;
    require(bytes.size() >= 12, "an upload line from fewer than twelve bytes");
    require(bytes.contains('['), "an upload line from a delivery with no record");
    // Each line needs at least twelve bytes of its own.
    require(d.uploads.size() <= bytes.size() / 12, "more upload lines than records");
    for (const auto &u : d.uploads) {
        require(reading.match(u.first).hasMatch(), "first reading of the wrong shape");
        require(reading.match(u.second).hasMatch(), "second reading of the wrong shape");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using fuzz::require;
    if (size < 2)
        return 0;
    const auto kind = std::int16_t(int(data[0] % 10) - 1);
    const std::size_t textLength = std::min<std::size_t>(data[1], size - 2);
    const QString startText =
        QString::fromLatin1(reinterpret_cast<const char *>(data + 2), qsizetype(textLength));
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2 + textLength),
                           qsizetype(size - 2 - textLength));

    const int start = kc::startRegisterOf(startText);
    const fuzz::Reference ref = fuzz::reference(startText);
    if (ref.known && ref.number && std::isfinite(ref.value) && std::fabs(ref.value) < 1000)
        require(start == int(fuzz::floorOf(ref)), "start register is not the box's whole part");
    if (ref.known && !ref.number)
        require(start == 0, "start register from a text that is no number");

    const kc::Delivery d = kc::decodeDelivery(kind, bytes, start);
    require(d.hex == hexOf(bytes), "received trace differs from the bytes");

    require(kind == kc::RequestKind::RegisterRead || (d.values.isEmpty() && !d.rejected),
            "register values outside a register read");
    require(kind == kc::RequestKind::Upload || d.uploads.isEmpty(),
            "upload line outside the upload mode");
    require(kind == kc::RequestKind::AddressChange || kind == kc::RequestKind::Station ||
                !d.address,
            "address from a reply that carries none");
    require(kind == kc::RequestKind::DeviceInfo || !d.deviceText,
            "device text outside a device-information request");
    if (d.deviceText)
        require(d.deviceText->size() == 11, "device text not eleven characters");
    if (kind == kc::RequestKind::RegisterRead && bytes.size() >= 3 && !d.rejected) {
        const int n = std::uint8_t(bytes[2]);
        require(bytes.size() >= n + 5 && fuzz::closedByCrc(bytes.left(n + 5)),
                "a reply with a bad CRC was not rejected");
    }
    checkRegisterValues(d, bytes, start);
    checkUpload(d, bytes);

    // The window-free pieces on their own.
    if (bytes.size() >= 2) {
        const int index = std::uint8_t(bytes[0]) % valueBoxes;
        const QString text = kc::registerWordText(
            index, std::uint16_t(std::uint8_t(bytes[0]) << 8 | std::uint8_t(bytes[1])));
        require(!text.isEmpty(), "empty register text");
    }
    if (bytes.size() >= 4) {
        std::int32_t count = 0;
        std::memcpy(&count, bytes.constData(), sizeof count);
        const std::int32_t next = kc::nextRecvCount(count);
        require(next == count + (count < std::numeric_limits<std::int32_t>::max() ? 1 : 0),
                "reception counter does not stop at its top");
    }
    return 0;
}
