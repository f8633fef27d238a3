#include "operations/Outcomes.h"

#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "protocol/PortNaming.h"

#include <algorithm>
#include <limits>

namespace kc {

namespace {

Outcome make(OutcomeKind kind, const Request &asked, const QByteArray &received,
             const QByteArray &frame = {})
{
    Outcome o;
    o.kind = kind;
    o.request = asked;
    o.bytes = int(received.size());
    o.frame = frame;
    if (!frame.isEmpty())
        o.station = std::uint8_t(frame[0]);
    if (frame.size() >= 2)
        o.function = std::uint8_t(frame[1]);
    return o;
}

std::uint8_t at(const QByteArray &bytes, int i)
{
    return std::uint8_t(bytes[i]);
}

// A module's own address: never 0 (a broadcast) nor above 250.
bool moduleAddress(int station)
{
    return station >= 1 && station <= 250;
}

bool stationAsked(const Request &asked, int station)
{
    switch (asked.kind) {
    case RequestKind::AddressRead:
        // Every module answers it from its own address.
        return moduleAddress(station);
    case RequestKind::AddressChange:
        // Some modules answer from the address they had, some from the new one.
        return station == asked.station || station == asked.newAddress;
    default:
        return station == asked.station;
    }
}

// A whole frame of the standard layout, judged against what was asked.
Outcome judgeFrame(const Request &asked, const QByteArray &received, int length)
{
    const QByteArray frame = received.left(length);
    if (!crcHolds(frame, length))
        return make(OutcomeKind::BadChecksum, asked, received, frame);
    Outcome o = make(OutcomeKind::Answered, asked, received, frame);
    const bool stationOk = stationAsked(asked, o.station);
    if (stationOk && o.function == (asked.function | 0x80)) {
        o.kind = OutcomeKind::Refused;
        o.exceptionCode = at(frame, 2);
    } else if (!stationOk || o.function != asked.function) {
        o.kind = OutcomeKind::WrongStation;
        o.wrongFunction = stationOk;
    }
    return o;
}

std::optional<Outcome> notYet(const Request &asked, const QByteArray &received, bool timeUp)
{
    if (!timeUp)
        return std::nullopt;
    return make(received.isEmpty() ? OutcomeKind::NoReply : OutcomeKind::Incomplete, asked,
                received);
}

// An address change is its answer only when the reply confirms the address asked
// for: taking anything else could put a wrong address, or 0 (a broadcast every
// module obeys), into the station box.
std::optional<Outcome> judgeAddressChange(const Request &asked, const QByteArray &r, bool timeUp)
{
    const int n = int(r.size());
    if (n >= 2 && (at(r, 1) & 0x80))
        return n >= 5 ? std::optional(judgeFrame(asked, r, 5)) : notYet(asked, r, timeUp);
    // The standard echo: 06 0B 00, then the new address in its last data byte.
    const bool echo =
        n >= 2 && at(r, 1) == 0x06 && (n < 3 || at(r, 2) == 0x0B) && (n < 4 || at(r, 3) == 0x00);
    if (echo) {
        if (n < 8)
            return notYet(asked, r, timeUp);
        Outcome o = judgeFrame(asked, r, 8);
        if (o.answered() && (at(r, 4) != 0 || at(r, 5) != asked.newAddress))
            o.kind = OutcomeKind::Mismatch;
        return o;
    }
    if (n < 4)
        return notYet(asked, r, timeUp);
    // The module's own layout: six bytes, from the old or the new address, the new
    // address in byte 3. It carries no checksum we know.
    if (stationAsked(asked, at(r, 0)) && at(r, 3) == asked.newAddress) {
        if (n < 6)
            return notYet(asked, r, timeUp);
        return make(OutcomeKind::Answered, asked, r, r.left(6));
    }
    return make(OutcomeKind::Mismatch, asked, r, r);
}

// Which histogram step a response time falls in: 0.1 ms steps to 100 ms, 1 ms
// steps to 2 s, one step for everything slower.
constexpr int fineSteps = 1000;
constexpr int coarseSteps = 1900;
constexpr int histogramSteps = fineSteps + coarseSteps + 1;

int stepOf(double ms)
{
    if (ms < 100)
        return std::max(0, int(ms * 10));
    if (ms < 2000)
        return fineSteps + int(ms - 100);
    return histogramSteps - 1;
}

// The upper edge of a step; the last has none.
double stepTop(int step)
{
    if (step == histogramSteps - 1)
        return std::numeric_limits<double>::infinity();
    return step < fineSteps ? (step + 1) / 10.0 : 100.0 + (step - fineSteps + 1);
}

} // namespace

bool Outcome::heardFrame() const
{
    switch (kind) {
    case OutcomeKind::Answered:
    case OutcomeKind::Refused:
    case OutcomeKind::BadChecksum:
    case OutcomeKind::WrongStation:
    case OutcomeKind::Mismatch:
        return true;
    default:
        return false;
    }
}

std::optional<Outcome> judgeReply(const Request &asked, const QByteArray &received, bool timeUp)
{
    if (asked.kind == RequestKind::AddressChange)
        return judgeAddressChange(asked, received, timeUp);
    const int length = replyFrameLength(received);
    if (length > 0 && received.size() >= length)
        return judgeFrame(asked, received, length);
    // No reply to our requests has a function we do not know: what arrived is
    // garbage (the tail of an earlier reply, noise), judged as it stands
    // rather than waited on.
    if (length < 0)
        return judgeFrame(asked, received, int(received.size()));
    return notYet(asked, received, timeUp);
}

QVector<Outcome> ReplyWatch::start(const Request &request, double now, int timeoutMs, int baud)
{
    QVector<Outcome> done;
    if (const auto previous = supersede())
        done.push_back(*previous);
    m_request = request;
    m_timeoutMs = timeoutMs;
    m_received.clear();
    m_sentAt = now;
    m_deadline = now + timeoutMs + wireMs(request.replyLength(), baud);
    if (request.isBroadcast()) {
        Outcome broadcast;
        broadcast.kind = OutcomeKind::Broadcast;
        broadcast.request = request;
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
    // An address change may come in the module's own layout, which no function
    // code announces: every byte is looked at.
    if (m_request.kind == RequestKind::AddressChange)
        return 0;
    const int length = replyFrameLength(m_received);
    return length > m_received.size() ? int(length - m_received.size()) : 0;
}

std::optional<Outcome> ReplyWatch::feed(const QByteArray &bytes, double now)
{
    if (!m_waiting)
        return std::nullopt;
    m_received += bytes;
    return finish(judgeReply(m_request, m_received, false), now);
}

std::optional<Outcome> ReplyWatch::expire(const QByteArray &late, double now)
{
    if (!m_waiting)
        return std::nullopt;
    m_received += late;
    std::optional<Outcome> done = finish(judgeReply(m_request, m_received, true), now);
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
    o.request = m_request;
    o.bytes = int(m_received.size());
    o.timeoutMs = m_timeoutMs;
    return o;
}

std::optional<Outcome> ReplyWatch::reject(const QByteArray &bytes, double now)
{
    if (!m_waiting)
        return std::nullopt;
    m_received += bytes;
    // Not an RTU frame: no station or function to read from it.
    Outcome o;
    o.kind = OutcomeKind::Mismatch;
    o.request = m_request;
    o.bytes = int(m_received.size());
    o.frame = bytes;
    return finish(o, now);
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
    case OutcomeKind::Mismatch:
        return QStringLiteral("应答与请求不符");
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

QString outcomeAdvice(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Answered:
    case OutcomeKind::Broadcast:
        break;
    case OutcomeKind::Refused:
        return QStringLiteral("检查值、行号和模块的工作方式；02、03 表示模块不接受该寄存器或该值");
    case OutcomeKind::BadChecksum:
        return QStringLiteral("线路干扰：检查接线、终端电阻和接地；多个模块同时应答也会如此");
    case OutcomeKind::WrongStation:
        return QStringLiteral("两个模块地址相同，或是前一请求迟到的应答");
    case OutcomeKind::Mismatch:
        return QStringLiteral("再次修改地址前先读地址");
    case OutcomeKind::Incomplete:
        return QStringLiteral("波特率不符或线路丢失字节；适配器较慢时加大超时");
    case OutcomeKind::NoReply:
        return QStringLiteral("检查串口、波特率和站号，模块是否上电，接线 A、B 是否接反");
    case OutcomeKind::Superseded:
        return QStringLiteral("周期短于模块的应答时间：加大周期");
    }
    return {};
}

QString openFailureText(const QString &port, const QString &device, OpenFailure failure)
{
    const QString address = device.isEmpty() ? port : device;
    switch (failure) {
    case OpenFailure::Timeout:
        return msg::connectTimeout.arg(address);
    case OpenFailure::Refused:
        return msg::connectRefused.arg(address);
    case OpenFailure::NoHost:
        return msg::noSuchHost.arg(address);
    default:
        if (looksLikeNetworkAddress(port))
            return msg::connectFailed.arg(address);
        break;
    }
    QString why;
    switch (failure) {
    case OpenFailure::NoDevice:
        why = msg::openNoDevice;
        break;
    case OpenFailure::NoPermission:
        why = msg::openNoPermission;
        break;
    case OpenFailure::Busy:
        why = msg::openBusy;
        break;
    default:
        why = msg::openOther;
        break;
    }
    const QString name =
        device.isEmpty() || device == port ? port : QStringLiteral("%1 (%2)").arg(port, device);
    return name + QStringLiteral("：") + why;
}

QString outcomeKey(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Answered:
        return QStringLiteral("answered");
    case OutcomeKind::Refused:
        return QStringLiteral("refused");
    case OutcomeKind::BadChecksum:
        return QStringLiteral("bad_checksum");
    case OutcomeKind::WrongStation:
        return QStringLiteral("wrong_station");
    case OutcomeKind::Mismatch:
        return QStringLiteral("mismatch");
    case OutcomeKind::Incomplete:
        return QStringLiteral("incomplete");
    case OutcomeKind::NoReply:
        return QStringLiteral("no_reply");
    case OutcomeKind::Broadcast:
        return QStringLiteral("broadcast");
    case OutcomeKind::Superseded:
        break;
    }
    return QStringLiteral("superseded");
}

void ResponseTimes::add(double ms)
{
    if (m_histogram.empty())
        m_histogram.assign(histogramSteps, 0);
    ++m_histogram[std::size_t(stepOf(ms))];
    ++m_count;
    m_last = ms;
    m_sum += ms;
    m_max = std::max(m_max, ms);
}

double ResponseTimes::percentile(int p) const
{
    if (m_count == 0)
        return -1;
    const long long rank = (m_count * p + 99) / 100; // the smallest value above p % of them
    long long seen = 0;
    for (int step = 0; step < histogramSteps; ++step) {
        seen += m_histogram[std::size_t(step)];
        if (seen >= rank)
            return std::min(m_max, stepTop(step));
    }
    return m_max;
}

void OutcomeTotals::add(const Outcome &o)
{
    if (o.kind == OutcomeKind::Broadcast)
        return; // nothing to wait for, nothing to count against the line
    ++sent;
    switch (o.kind) {
    case OutcomeKind::Answered:
        ++answered;
        times.add(o.responseMs);
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
    case OutcomeKind::Mismatch:
        ++mismatch;
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
        text += QStringLiteral("  响应 %1 / %2 / %3 ms")
                    .arg(ms(t.times.last()), ms(t.times.mean()), ms(t.times.max()));
    return text;
}

} // namespace kc
