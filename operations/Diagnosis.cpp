#include "operations/Diagnosis.h"

#include "protocol/FrameCodec.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace kc {

namespace {

// An answer after more than this share of the timeout leaves too little
// margin: a slower adapter or a longer line and it is lost.
constexpr double slowShare = 0.5;
// Stray bytes looked for before a reply.
constexpr int strayMost = 16;
constexpr int examplesKept = 3;
constexpr int exampleBytes = 16;

// What one probe shows, from the module's point of view.
enum class Seen {
    Good,     // answered in good time
    Slow,     // answered, but late in the timeout
    Stray,    // a good reply after bytes that belong to none
    Late,     // a reply (or its beginning) only after the deadline
    Cut,      // the beginning of the reply, never its end
    BadFrame, // a reply of the right shape and length with a bad checksum
    Garbage,  // bytes that look like no reply to the request
    Nothing,
};

struct Look
{
    Seen seen = Seen::Nothing;
    int stray = 0; // bytes before the reply
};

bool goodOutcome(const Outcome &o)
{
    return o.answered() || o.kind == OutcomeKind::Refused;
}

bool shows(Seen seen)
{
    return seen == Seen::Good || seen == Seen::Slow || seen == Seen::Stray;
}

bool goodReply(const Request &r, const QByteArray &bytes)
{
    return goodOutcome(*judgeReply(r, bytes, true));
}

int strayBefore(const Request &r, const QByteArray &reply)
{
    const int most = std::min(strayMost, int(reply.size()) - 1);
    for (int k = 1; k <= most; ++k) {
        if (goodReply(r, reply.mid(k)))
            return k;
    }
    return 0;
}

// Begins as the answer of the station asked to the function asked would.
bool shapedLikeReply(const Request &r, const QByteArray &reply)
{
    if (reply.size() < 2)
        return false;
    const int station = std::uint8_t(reply[0]);
    const int function = std::uint8_t(reply[1]);
    const bool fromAsked =
        r.kind == RequestKind::AddressRead ? station >= 1 && station <= 250 : station == r.station;
    return fromAsked && (function == r.function || function == (r.function | 0x80));
}

Look look(const Probe &p, int timeoutMs)
{
    const Outcome &o = p.outcome;
    const Request &r = o.request;
    const QByteArray reply = p.reply();
    if (goodOutcome(o))
        return {o.responseMs > slowShare * timeoutMs ? Seen::Slow : Seen::Good};
    if (reply.isEmpty())
        return {Seen::Nothing};
    // Whole and good, but only after the deadline (or its end did).
    if (goodReply(r, reply))
        return {Seen::Late};
    if (const int stray = strayBefore(r, reply))
        return {Seen::Stray, stray};
    if (!shapedLikeReply(r, reply))
        return {Seen::Garbage};
    if (o.kind == OutcomeKind::NoReply)
        return {Seen::Late};
    const int expected = (std::uint8_t(reply[1]) & 0x80) ? 5 : r.replyLength();
    return {reply.size() < expected ? Seen::Cut : Seen::BadFrame};
}

bool stationRead(const Probe &p, int station)
{
    return p.outcome.request.kind == RequestKind::RegisterRead &&
           p.outcome.request.station == station;
}

bool addressRead(const Probe &p)
{
    return p.outcome.request.kind == RequestKind::AddressRead;
}

QString hex(const QByteArray &bytes)
{
    QString text = QString::fromLatin1(bytes.left(exampleBytes).toHex(' ').toUpper());
    return bytes.size() > exampleBytes ? text + QStringLiteral(" …") : text;
}

void noteProbe(Finding &f, const Probe &p, const QString &example)
{
    ++f.count;
    if (!f.bauds.contains(p.baud)) {
        f.bauds << p.baud;
        std::sort(f.bauds.begin(), f.bauds.end());
    }
    if (f.examples.size() < examplesKept && !example.isEmpty() && !f.examples.contains(example))
        f.examples << example;
}

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

QString rates(const QList<int> &bauds)
{
    QStringList list;
    for (const int b : bauds)
        list << QString::number(b);
    return list.join(QStringLiteral("、"));
}

} // namespace

QByteArray Probe::reply() const
{
    const QByteArray frame = outcome.request.frame();
    return echoed && heard.startsWith(frame) ? heard.mid(frame.size()) : heard;
}

QVector<Finding> classifyLine(int station, int portBaud, int timeoutMs,
                              const QVector<Probe> &probes)
{
    if (probes.isEmpty())
        return {};
    QVector<Look> looks;
    QList<int> tried, moduleRates;
    for (const Probe &p : probes) {
        looks << look(p, timeoutMs);
        if (!tried.contains(p.baud))
            tried << p.baud;
        if (stationRead(p, station) && shows(looks.last().seen) && !moduleRates.contains(p.baud))
            moduleRates << p.baud;
    }
    std::sort(tried.begin(), tried.end());
    std::sort(moduleRates.begin(), moduleRates.end());
    // Where the module answers, what comes at the other rates is the rate's doing.
    const auto atModuleRate = [&](int baud) {
        return moduleRates.isEmpty() || moduleRates.contains(baud);
    };

    Finding echo{FindingKind::Echo}, stray{FindingKind::StrayBytes}, late{FindingKind::CutOrLate};
    echo.of = stray.of = late.of = int(probes.size());
    for (int i = 0; i < probes.size(); ++i) {
        const Probe &p = probes[i];
        const Look &l = looks[i];
        if (p.echoed)
            noteProbe(echo, p, hex(p.outcome.request.frame()));
        if (l.seen == Seen::Stray) {
            noteProbe(stray, p, hex(p.reply().left(l.stray)));
            if (stray.value < 0)
                stray.value = l.stray;
        } else if (l.seen == Seen::Slow) {
            noteProbe(late, p, QStringLiteral("%1 ms").arg(ms(p.outcome.responseMs)));
            late.slowestMs = std::max(late.slowestMs, p.outcome.responseMs);
        } else if ((l.seen == Seen::Cut || l.seen == Seen::Late) && atModuleRate(p.baud)) {
            noteProbe(late, p, hex(p.reply()));
        }
    }

    // Two modules at the station: every read of it at a rate a reply of the
    // right shape whose checksum never holds. Several modules on the
    // station-250 read: the same for every one of its answers.
    Finding twins{FindingKind::Collisions}, several{FindingKind::Collisions};
    twins.value = station;
    several.value = -1;
    for (const int baud : tried) {
        QVector<int> reads, addressReads;
        for (int i = 0; i < probes.size(); ++i) {
            if (probes[i].baud == baud && stationRead(probes[i], station))
                reads << i;
            else if (probes[i].baud == baud && addressRead(probes[i]))
                addressReads << i;
        }
        const auto allOf = [&](const QVector<int> &which, auto test) {
            return which.size() >= 2 && std::all_of(which.begin(), which.end(),
                                                    [&](int i) { return test(looks[i].seen); });
        };
        if (allOf(reads, [](Seen s) { return s == Seen::BadFrame; })) {
            for (const int i : reads)
                noteProbe(twins, probes[i], hex(probes[i].reply()));
            twins.of += int(reads.size());
        }
        if (atModuleRate(baud) && allOf(addressReads, [](Seen s) { return s == Seen::BadFrame; })) {
            for (const int i : addressReads)
                noteProbe(several, probes[i], hex(probes[i].reply()));
            several.of += int(addressReads.size());
        }
    }

    // Checksum errors among the station's reads, those two modules at one
    // address explain apart; the longest run of them tells bursts.
    Finding bursts{FindingKind::ChecksumBursts};
    bursts.value = 0;
    int run = 0;
    for (int i = 0; i < probes.size(); ++i) {
        const Probe &p = probes[i];
        if (!stationRead(p, station) || !atModuleRate(p.baud) || twins.bauds.contains(p.baud))
            continue;
        ++bursts.of;
        const bool bad = looks[i].seen == Seen::BadFrame ||
                         (looks[i].seen == Seen::Garbage && moduleRates.contains(p.baud));
        run = bad ? run + 1 : 0;
        bursts.value = std::max(bursts.value, run);
        if (bad)
            noteProbe(bursts, p, hex(p.reply()));
    }

    QVector<Finding> found;
    for (const Finding *f : {&echo, &stray, &late, &bursts, &twins, &several}) {
        if (f->count > 0)
            found << *f;
    }

    if (tried.size() > 1 && moduleRates.size() == 1) {
        Finding one{FindingKind::OneRate};
        one.value = moduleRates.first();
        one.note = one.value == portBaud;
        one.bauds = moduleRates;
        for (int i = 0; i < probes.size(); ++i) {
            if (probes[i].baud == one.value)
                continue;
            ++one.of;
            if (!probes[i].reply().isEmpty()) {
                ++one.count;
                if (one.examples.size() < examplesKept)
                    one.examples
                        << QStringLiteral("%1: %2").arg(probes[i].baud).arg(hex(probes[i].reply()));
            }
        }
        found << one;
    }

    bool heardFromStation = false;
    for (int i = 0; i < probes.size(); ++i)
        heardFromStation |= stationRead(probes[i], station) && looks[i].seen != Seen::Nothing &&
                            looks[i].seen != Seen::Garbage;
    if (!heardFromStation) {
        Finding silence{FindingKind::Silence};
        silence.bauds = tried;
        for (int i = 0; i < probes.size(); ++i) {
            const Probe &p = probes[i];
            if (addressRead(p) && p.outcome.answered() && silence.value < 0)
                silence.value = p.outcome.station;
            if (!stationRead(p, station))
                continue;
            ++silence.of;
            if (looks[i].seen == Seen::Nothing)
                ++silence.count;
            else if (silence.examples.size() < examplesKept)
                silence.examples << QStringLiteral("%1: %2").arg(p.baud).arg(hex(p.reply()));
        }
        found << silence;
    }

    if (std::none_of(found.begin(), found.end(),
                     [](const Finding &f) { return findingRank(f) > 0; })) {
        Finding clean{FindingKind::Clean};
        clean.bauds = moduleRates;
        for (const Probe &p : probes) {
            if (stationRead(p, station)) {
                ++clean.of;
                clean.count += goodOutcome(p.outcome);
            }
        }
        found.prepend(clean);
    }
    std::stable_sort(found.begin(), found.end(), [](const Finding &a, const Finding &b) {
        return findingRank(a) > findingRank(b);
    });
    return found;
}

int findingRank(const Finding &f)
{
    return f.note ? 0 : int(f.kind);
}

QString findingKey(FindingKind kind)
{
    switch (kind) {
    case FindingKind::Clean:
        return QStringLiteral("clean");
    case FindingKind::Echo:
        return QStringLiteral("echo");
    case FindingKind::StrayBytes:
        return QStringLiteral("stray_bytes");
    case FindingKind::CutOrLate:
        return QStringLiteral("cut_or_late");
    case FindingKind::ChecksumBursts:
        return QStringLiteral("checksum_bursts");
    case FindingKind::OneRate:
        return QStringLiteral("one_rate");
    case FindingKind::Collisions:
        return QStringLiteral("collisions");
    case FindingKind::Silence:
        break;
    }
    return QStringLiteral("silence");
}

QString findingTitle(const Finding &f)
{
    switch (f.kind) {
    case FindingKind::Clean:
        return QStringLiteral("线路正常");
    case FindingKind::Echo:
        return QStringLiteral("适配器回显");
    case FindingKind::StrayBytes:
        return QStringLiteral("应答前有多余字节");
    case FindingKind::CutOrLate:
        return QStringLiteral("应答不完整或过迟");
    case FindingKind::ChecksumBursts:
        return QStringLiteral("校验错误成串出现");
    case FindingKind::OneRate:
        return QStringLiteral("只在 %1 波特应答").arg(f.value);
    case FindingKind::Collisions:
        return f.value < 0 ? QStringLiteral("读地址时多个模块同时应答")
                           : QStringLiteral("站 %1 有两个模块同时应答").arg(f.value);
    case FindingKind::Silence:
        break;
    }
    return f.bauds.size() > 1 ? QStringLiteral("所有波特率下均无应答") : QStringLiteral("无应答");
}

QString findingEvidence(const Finding &f, int timeoutMs)
{
    QString text = QStringLiteral("%1 次中 %2 次").arg(f.of).arg(f.count);
    if (!f.bauds.isEmpty())
        text += QStringLiteral("，%1 波特").arg(rates(f.bauds));
    switch (f.kind) {
    case FindingKind::StrayBytes:
        text += QStringLiteral("；应答前 %1 字节").arg(f.value);
        break;
    case FindingKind::CutOrLate:
        if (f.slowestMs >= 0)
            text +=
                QStringLiteral("；最慢应答 %1 ms，超时 %2 ms").arg(ms(f.slowestMs)).arg(timeoutMs);
        break;
    case FindingKind::ChecksumBursts:
        text += QStringLiteral("；最长连续 %1 次").arg(f.value);
        break;
    case FindingKind::OneRate:
        text = QStringLiteral("其他波特率 %1 次探测中 %2 次收到乱码，其余无应答")
                   .arg(f.of)
                   .arg(f.count);
        break;
    case FindingKind::Silence:
        text = QStringLiteral("%1 次读取没有一次有效应答，其中 %2 次毫无回音，试过 %3 波特")
                   .arg(f.of)
                   .arg(f.count)
                   .arg(rates(f.bauds));
        if (f.value > 0)
            text += QStringLiteral("；读地址时站 %1 应答").arg(f.value);
        break;
    default:
        break;
    }
    if (!f.examples.isEmpty())
        text += QStringLiteral("；例：") + f.examples.join(QStringLiteral(" | "));
    return text;
}

QString findingAdvice(const Finding &f, int station, int portBaud)
{
    switch (f.kind) {
    case FindingKind::Clean:
        return QStringLiteral("无需处理。");
    case FindingKind::Echo:
        return QStringLiteral(
            "适配器没有自动收发切换，把每个请求送了回来。“通讯设置”中“回显”为“自动”时"
            "读取正常；要写入参数请设为“有”。也可换用带自动收发切换的 RS-485 适配器。");
    case FindingKind::StrayBytes:
        return QStringLiteral(
            "总线空闲时电平不确定，缺少偏置电阻：在主站一端加偏置（A 上拉、B 下拉，"
            "各约 560 Ω 至 1 kΩ），或打开适配器上的偏置开关。");
    case FindingKind::CutOrLate:
        return QStringLiteral(
            "应答被截断或来得太迟：加大应答超时（工具 → 通讯设置）；USB 适配器把延时定时器"
            "设为 1 ms（见 docs/PERFORMANCE.md 中的 FTDI latency timer）；线路过长时降低波特率。");
    case FindingKind::ChecksumBursts:
        return QStringLiteral(
            "线路受到干扰：检查终端电阻（只在总线两端各接一个 120 Ω），屏蔽层单点接地，"
            "信号线远离动力电缆和变频器；降低波特率可减轻。");
    case FindingKind::OneRate:
        return f.note ? QStringLiteral("模块波特率与串口一致，其他波特率下无应答或乱码属正常。")
                      : QStringLiteral("模块的波特率是 %1，串口是 %2：把主窗口的波特率改为 %1，"
                                       "或在 %1 下把模块改为所需波特率。")
                            .arg(f.value)
                            .arg(portBaud);
    case FindingKind::Collisions:
        return f.value < 0 ? QStringLiteral("读地址（站 250）只能在总线上只有一个模块时使用；"
                                            "多个模块请用“总线扫描”查找。")
                           : QStringLiteral("两个模块都设成了站 %1，应答互相叠加，校验总不成立："
                                            "逐个断开模块找出重复的一个，改为不同的地址。")
                                 .arg(f.value);
    case FindingKind::Silence:
        break;
    }
    QString text =
        QStringLiteral("检查接线（A、B 是否接反）、模块供电、所选串口，以及站号 %1 是否正确")
            .arg(station);
    if (f.value > 0)
        text += QStringLiteral("；读地址时站 %1 应答，模块地址可能是 %1").arg(f.value);
    if (f.bauds.size() <= 1)
        text += QStringLiteral("；模块可能不在 %1 波特，请勾选“全部波特率”再诊断").arg(portBaud);
    return text + QStringLiteral("。");
}

QVector<RateSummary> rateSummaries(int station, const QVector<Probe> &probes)
{
    QVector<RateSummary> out;
    for (const Probe &p : probes) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const RateSummary &r) { return r.baud == p.baud; });
        if (it == out.end()) {
            out.push_back(RateSummary{});
            it = out.end() - 1;
            it->baud = p.baud;
        }
        const bool good = goodOutcome(p.outcome);
        if (stationRead(p, station)) {
            ++it->reads;
            it->answered += good;
            if (good)
                it->times.add(p.outcome.responseMs);
        } else if (addressRead(p)) {
            ++it->addressReads;
            it->addressAnswered += good;
        }
    }
    return out;
}

QString diagnosisReportText(const DiagnosisReport &r)
{
    QString text =
        QStringLiteral("线路诊断  %1  站 %2  %3 波特  超时 %4 ms  探测 %5 次  用时 %6 s%7\n")
            .arg(r.port)
            .arg(r.station)
            .arg(r.baud)
            .arg(r.timeoutMs)
            .arg(r.probes.size())
            .arg(QString::number(r.elapsedMs / 1000, 'f', 1))
            .arg(r.cancelled ? QStringLiteral("  （已取消）") : QString());
    for (const RateSummary &s : rateSummaries(r.station, r.probes)) {
        text += QStringLiteral("%1 波特：读取 %2 次，正确应答 %3 次")
                    .arg(s.baud)
                    .arg(s.reads)
                    .arg(s.answered);
        if (s.times.count() > 0)
            text += QStringLiteral("，响应中位 %1 ms，最大 %2 ms")
                        .arg(ms(s.times.percentile(50)), ms(s.times.max()));
        if (s.addressReads > 0)
            text += QStringLiteral("；读地址 %1 次，正确应答 %2 次")
                        .arg(s.addressReads)
                        .arg(s.addressAnswered);
        text += QLatin1Char('\n');
    }
    for (const Finding &f : r.findings) {
        const int rank = findingRank(f);
        const QString level = f.kind == FindingKind::Clean              ? QStringLiteral("正常")
                              : rank == 0                               ? QStringLiteral("提示")
                              : rank < int(FindingKind::ChecksumBursts) ? QStringLiteral("警告")
                                                                        : QStringLiteral("故障");
        text += QStringLiteral("\n[%1] %2\n  依据：%3\n  处理：%4\n")
                    .arg(level, findingTitle(f), findingEvidence(f, r.timeoutMs),
                         findingAdvice(f, r.station, r.baud));
    }
    return text;
}

QString diagnosisProgressText(int done, int total, double msLeft)
{
    const int seconds = int(std::ceil(msLeft / 1000));
    return QStringLiteral("探测 %1/%2  剩余约 %3分%4秒")
        .arg(done)
        .arg(total)
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace kc
