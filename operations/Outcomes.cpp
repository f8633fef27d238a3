#include "operations/Outcomes.h"

#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

#include <algorithm>

namespace kc {

namespace {

Outcome make(OutcomeKind kind, const QByteArray &received, const QByteArray &frame = {})
{
    Outcome o;
    o.kind = kind;
    o.bytes = int(received.size());
    o.frame = frame;
    if (frame.size() >= 2) {
        o.station = std::uint8_t(frame[0]);
        o.function = std::uint8_t(frame[1]);
    }
    return o;
}

// A whole frame of the standard layout, judged against what was asked.
Outcome judgeFrame(const Expectation &e, const QByteArray &received, int length)
{
    const QByteArray frame = received.left(length);
    if (!crcHolds(frame, length))
        return make(OutcomeKind::BadChecksum, received, frame);
    Outcome o = make(OutcomeKind::Answered, received, frame);
    const bool stationOk = e.anyStation || o.station == e.station || o.station == e.otherStation;
    if (stationOk && o.function == (e.function | 0x80)) {
        o.kind = OutcomeKind::Refused;
        o.exceptionCode = std::uint8_t(frame[2]);
    } else if (!stationOk || o.function != e.function) {
        o.kind = OutcomeKind::WrongStation;
        o.wrongFunction = stationOk;
    }
    return o;
}

// Whether the module answers an address change in its own layout rather than
// as the standard echo (06 0B 00 ...) or an exception.
bool ownAddressLayout(const QByteArray &r)
{
    if (r.size() >= 2 && (std::uint8_t(r[1]) & 0x80))
        return false;
    return r.size() >= 4 &&
           !(std::uint8_t(r[1]) == 0x06 && std::uint8_t(r[2]) == 0x0B && r[3] == 0x00);
}

} // namespace

Expectation expectationOf(const RequestPlan &plan)
{
    Expectation e;
    e.station = std::uint8_t(plan.frame[0]);
    e.function = std::uint8_t(plan.frame[1]);
    switch (plan.kind) {
    case RequestKind::RegisterRead:
        e.replyLength = plan.threshold;
        break;
    case RequestKind::Station:
        // Station 250 is the address read, which the module answers from its own address.
        e.anyStation = e.station == 0xFA;
        e.replyLength = e.anyStation ? 7 : 8;
        break;
    case RequestKind::AddressChange:
        e.otherStation = std::uint8_t(plan.frame[5]);
        e.moduleLayout = true;
        e.replyLength = 8;
        break;
    case RequestKind::DeviceInfo:
        e.replyLength = 16;
        break;
    case RequestKind::Upload:
    case RequestKind::None:
        break;
    }
    return e;
}

std::optional<Outcome> judgeReply(const Expectation &e, const QByteArray &received, bool timeUp)
{
    if (e.moduleLayout && ownAddressLayout(received)) {
        // The module's own layout carries no checksum we know; six bytes make it.
        if (received.size() >= 6)
            return make(OutcomeKind::Answered, received, received.left(6));
        if (!timeUp)
            return std::nullopt;
        return make(OutcomeKind::Incomplete, received);
    }
    const int length = replyFrameLength(received);
    if (length > 0 && received.size() >= length)
        return judgeFrame(e, received, length);
    // No reply to our requests has a function we do not know: what arrived is
    // garbage (the tail of an earlier reply, noise), judged as it stands
    // rather than waited on.
    if (length < 0)
        return judgeFrame(e, received, int(received.size()));
    if (!timeUp)
        return std::nullopt;
    if (received.isEmpty())
        return make(OutcomeKind::NoReply, received);
    return make(OutcomeKind::Incomplete, received);
}

QVector<Outcome> ReplyWatch::start(const RequestPlan &plan, double now, int timeoutMs, int baud)
{
    QVector<Outcome> done;
    if (const auto previous = supersede())
        done.push_back(*previous);
    m_expected = expectationOf(plan);
    m_kind = plan.kind;
    m_startRegister = plan.startRegister;
    m_timeoutMs = timeoutMs;
    m_received.clear();
    m_sentAt = now;
    m_deadline = now + timeoutMs + wireMs(m_expected.replyLength, baud);
    if (m_expected.station == 0) {
        Outcome broadcast;
        broadcast.kind = OutcomeKind::Broadcast;
        done.push_back(broadcast);
        return done;
    }
    m_waiting = true;
    return done;
}

double ReplyWatch::remainingMs(double now) const
{
    return std::max(0.0, m_deadline - now);
}

int ReplyWatch::bytesStillExpected() const
{
    const int length = replyFrameLength(m_received);
    return length > m_received.size() ? int(length - m_received.size()) : 0;
}

std::optional<Outcome> ReplyWatch::feed(const QByteArray &bytes, double now)
{
    if (!m_waiting)
        return std::nullopt;
    m_received += bytes;
    return finish(judgeReply(m_expected, m_received, false), now);
}

std::optional<Outcome> ReplyWatch::expire(const QByteArray &late, double now)
{
    if (!m_waiting)
        return std::nullopt;
    m_received += late;
    std::optional<Outcome> done = finish(judgeReply(m_expected, m_received, true), now);
    // What is judged only at the deadline came at some unknown moment before it.
    done->responseMs = -1;
    return done;
}

std::optional<Outcome> ReplyWatch::supersede()
{
    if (!m_waiting)
        return std::nullopt;
    m_waiting = false;
    Outcome o;
    o.kind = OutcomeKind::Superseded;
    o.bytes = int(m_received.size());
    o.timeoutMs = m_timeoutMs;
    return o;
}

std::optional<Outcome> ReplyWatch::finish(std::optional<Outcome> outcome, double now)
{
    if (!outcome)
        return std::nullopt;
    m_waiting = false;
    outcome->timeoutMs = m_timeoutMs;
    outcome->responseMs = now - m_sentAt;
    return outcome;
}

QString exceptionName(int code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("非法功能");
    case 0x02:
        return QStringLiteral("非法数据地址");
    case 0x03:
        return QStringLiteral("非法数据值");
    case 0x04:
        return QStringLiteral("从站设备故障");
    case 0x05:
        return QStringLiteral("已确认，处理中");
    case 0x06:
        return QStringLiteral("从站设备忙");
    case 0x08:
        return QStringLiteral("存储奇偶性差错");
    case 0x0A:
        return QStringLiteral("网关路径不可用");
    case 0x0B:
        return QStringLiteral("网关目标设备无响应");
    default:
        return QStringLiteral("异常码 %1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
    }
}

namespace {
QString ms(double value)
{
    return QString::number(value, 'f', 1);
}
QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

QString outcomeText(const Outcome &o)
{
    switch (o.kind) {
    case OutcomeKind::Answered:
        return QStringLiteral("应答正常 %1 ms").arg(ms(o.responseMs));
    case OutcomeKind::Refused:
        return QStringLiteral("模块拒绝：%1 (%2)")
            .arg(exceptionName(o.exceptionCode), hexByte(o.exceptionCode));
    case OutcomeKind::BadChecksum:
        return QStringLiteral("校验错误");
    case OutcomeKind::WrongStation:
        return o.wrongFunction ? QStringLiteral("应答功能码不符 (%1)").arg(hexByte(o.function))
                               : QStringLiteral("应答来自站 %1").arg(o.station);
    case OutcomeKind::Incomplete:
        return QStringLiteral("应答不完整 (%1 字节)").arg(o.bytes);
    case OutcomeKind::NoReply:
        return QStringLiteral("无应答 (超时 %1 ms)").arg(o.timeoutMs);
    case OutcomeKind::Broadcast:
        return QStringLiteral("广播已发送 (无应答)");
    case OutcomeKind::Superseded:
        return QStringLiteral("无应答 (下一请求已发出)");
    }
    return {};
}

void OutcomeTotals::add(const Outcome &o)
{
    if (o.kind == OutcomeKind::Broadcast)
        return; // nothing to wait for, nothing to count against the line
    ++sent;
    switch (o.kind) {
    case OutcomeKind::Answered:
        ++answered;
        lastMs = o.responseMs;
        maxMs = std::max(maxMs, o.responseMs);
        sumMs += o.responseMs;
        break;
    case OutcomeKind::Refused:
        ++refused;
        break;
    case OutcomeKind::BadChecksum:
        ++badChecksum;
        break;
    case OutcomeKind::WrongStation:
        ++wrongStation;
        break;
    case OutcomeKind::Incomplete:
        ++incomplete;
        break;
    case OutcomeKind::NoReply:
        ++noReply;
        break;
    case OutcomeKind::Superseded:
        ++superseded;
        break;
    case OutcomeKind::Broadcast:
        break;
    }
}

QString totalsText(const OutcomeTotals &t)
{
    QString text = QStringLiteral("发送 %1  应答 %2  超时 %3  错误 %4  取代 %5")
                       .arg(t.sent)
                       .arg(t.answered)
                       .arg(t.noReply)
                       .arg(t.errors())
                       .arg(t.superseded);
    if (t.answered > 0)
        text +=
            QStringLiteral("  响应 %1 / %2 / %3 ms").arg(ms(t.lastMs), ms(t.meanMs()), ms(t.maxMs));
    return text;
}

} // namespace kc
