#include "operations/Listening.h"

#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"

#include <QStringList>

namespace kc {

namespace {

QString ms(double value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1);
}

QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

std::optional<Request> candidateOf(const QByteArray &f)
{
    const int station = std::uint8_t(f[0]);
    const int function = std::uint8_t(f[1]);
    const int address = std::uint8_t(f[2]) << 8 | std::uint8_t(f[3]);
    const auto word = std::uint16_t(std::uint8_t(f[4]) << 8 | std::uint8_t(f[5]));
    switch (function) {
    case 0x03:
    case 0x04:
        if (Request::addressRead().frame() == f)
            return Request::addressRead();
        return Request::registerRead(station, address, word, function);
    case 0x06:
        if (address == 0x0B00)
            return Request::addressChange(station, word);
        for (int row = firstWritable; row < registerCount; ++row) {
            if (writeAddress(row) == address)
                return Request::registerWrite(station, row, word);
        }
        return std::nullopt;
    case 0x26:
        return Request::deviceInfo(station);
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<Request> requestOf(const QByteArray &frame)
{
    if (frame.size() != 8)
        return std::nullopt;
    const auto request = candidateOf(frame);
    // What this tool would not send byte for byte (a start above 255, say) is
    // judged as a plain frame of its function.
    if (!request || request->frame() != frame)
        return std::nullopt;
    return request;
}

int HeardExchange::station() const
{
    return request.isEmpty() ? -1 : std::uint8_t(request[0]);
}

int HeardExchange::function() const
{
    return request.size() < 2 ? -1 : std::uint8_t(request[1]);
}

QVector<HeardExchange> HeardTraffic::take(const HeardFrame &frame)
{
    QVector<HeardExchange> done;
    switch (frame.role) {
    case HeardFrame::Role::Request:
        if (m_pending)
            done << conclude({}, -1);
        m_pending = frame;
        // Nobody answers a broadcast, and nothing is counted against the line.
        if (frame.bytes[0] == 0)
            done << conclude({}, -1);
        break;
    case HeardFrame::Role::Reply:
        if (m_pending)
            done << conclude(frame.bytes, frame.at);
        else
            ++m_unpaired;
        break;
    case HeardFrame::Role::Noise:
        m_noiseBytes += frame.bytes.size();
        break;
    }
    return done;
}

QVector<HeardExchange> HeardTraffic::finish()
{
    if (!m_pending)
        return {};
    return {conclude({}, -1)};
}

HeardExchange HeardTraffic::conclude(const QByteArray &reply, double replyAt)
{
    HeardExchange x;
    x.request = m_pending->bytes;
    x.requestAt = m_pending->at;
    m_pending.reset();
    x.reply = reply;
    x.replyAt = replyAt;
    x.known = requestOf(x.request);
    // Any other function is judged as a frame of its own function and length.
    const Request asked = x.known.value_or(Request::registerRead(x.station(), 0, 0, x.function()));
    if (asked.isBroadcast()) {
        x.outcome.kind = OutcomeKind::Broadcast;
        x.outcome.request = asked;
        return x;
    }
    x.outcome = *judgeReply(asked, reply, true);
    x.outcome.responseMs = reply.isEmpty() ? -1 : replyAt - x.requestAt;
    m_stations[x.station()].add(x.outcome);
    return x;
}

QString heardRequestText(const HeardExchange &x)
{
    if (!x.known)
        return QStringLiteral("功能码 %1").arg(hexByte(x.function()));
    const Request &r = *x.known;
    switch (r.kind) {
    case RequestKind::RegisterRead:
        return QStringLiteral("读寄存器 %1-%2 (%3)")
            .arg(r.start)
            .arg(r.start + r.count - 1)
            .arg(hexByte(r.function));
    case RequestKind::AddressRead:
        return QStringLiteral("读地址");
    case RequestKind::RegisterWrite:
        return QStringLiteral("写 %1 = %2")
            .arg(QString::fromUtf8(registerMap()[std::size_t(r.row)].caption),
                 decodeWord(r.row, r.word));
    case RequestKind::AddressChange:
        return QStringLiteral("改地址为 %1").arg(r.newAddress);
    case RequestKind::DeviceInfo:
        return QStringLiteral("读设备信息");
    case RequestKind::UploadListening:
        break;
    }
    return {};
}

QVector<RegisterValue> heardRegisters(const HeardExchange &x)
{
    return x.known ? registerValues(x.outcome) : QVector<RegisterValue>();
}

QString heardOutcomeText(const HeardExchange &x)
{
    // Nobody's timeout is known: the next request ended the wait.
    return x.outcome.kind == OutcomeKind::NoReply ? QStringLiteral("无应答")
                                                  : outcomeText(x.outcome);
}

QString heardValuesText(const HeardExchange &x)
{
    QStringList values;
    for (const RegisterValue &v : heardRegisters(x))
        values << QStringLiteral("%1=%2").arg(v.row).arg(v.text());
    if (const auto device = deviceTextOf(x.outcome))
        values << *device;
    if (x.known && x.known->kind == RequestKind::AddressRead) {
        if (const auto address = confirmedAddress(x.outcome))
            values << QStringLiteral("地址 %1").arg(*address);
    }
    return values.join(QStringLiteral("  "));
}

QString exchangeText(const HeardExchange &x)
{
    QString text = QStringLiteral("站 %1  %2  %3")
                       .arg(x.station())
                       .arg(heardRequestText(x), heardOutcomeText(x));
    const QString values = heardValuesText(x);
    return values.isEmpty() ? text : text + QStringLiteral("  ") + values;
}

QString listenTotalsText(int station, const OutcomeTotals &t)
{
    return QStringLiteral("站 %1  请求 %2  应答 %3  异常 %4  无应答 %5  校验错误 %6  其他 %7  "
                          "响应 p50 %8 / p95 %9 ms")
        .arg(station)
        .arg(t.sent)
        .arg(t.answered)
        .arg(t.refused)
        .arg(t.noReply)
        .arg(t.badChecksum)
        .arg(t.wrongStation + t.mismatch + t.incomplete + t.superseded)
        .arg(ms(t.times.percentile(50)), ms(t.times.p95()));
}

QString listenNoiseText(const HeardTraffic &traffic)
{
    return QStringLiteral("无请求的应答 %1  杂散字节 %2")
        .arg(traffic.unpaired())
        .arg(traffic.noiseBytes());
}

} // namespace kc
