#pragma once

#include "operations/Outcomes.h"
#include "operations/Replies.h"
#include "operations/Requests.h"
#include "protocol/ListenFraming.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace kc {

// A request heard on the line as this tool's own Request, when it is one this
// tool could have sent (its frame the same byte for byte).
std::optional<Request> requestOf(const QByteArray &frame);

// One request another master sent, with what answered it, judged by the rules
// the tool's own requests are judged by.
struct HeardExchange
{
    QByteArray request;
    QByteArray reply;      // empty: no answer
    double requestAt = -1; // ms, when the request's last byte was read
    double replyAt = -1;
    std::optional<Request> known; // the request as a Request, see requestOf()
    // Kind, station and function, exception, response time. A request of
    // another function is judged as a frame of its function alone: decode
    // through heardRegisters(), never registerValues().
    Outcome outcome;

    int station() const;
    int function() const;
};

// Pairs the frames a listener hears into exchanges and keeps each station's
// totals: requests, answered, refused (exceptions), no answer, checksum errors
// and the other faults, response times.
class HeardTraffic
{
public:
    // The exchanges this frame completes, oldest first.
    QVector<HeardExchange> take(const HeardFrame &frame);
    // Listening ends: a request still waiting got no answer.
    QVector<HeardExchange> finish();

    // By the station the requests went to.
    const QMap<int, OutcomeTotals> &stations() const { return m_stations; }
    // Replies with no request heard before them, and bytes that are no frame.
    long long unpaired() const { return m_unpaired; }
    long long noiseBytes() const { return m_noiseBytes; }

private:
    HeardExchange conclude(const QByteArray &reply, double replyAt);

    std::optional<HeardFrame> m_pending; // the request awaiting its reply
    QMap<int, OutcomeTotals> m_stations;
    long long m_unpaired = 0;
    long long m_noiseBytes = 0;
};

// The registers an answered read of the module's registers carries.
QVector<RegisterValue> heardRegisters(const HeardExchange &exchange);

// "站 1  读寄存器 0-14 (03)  应答正常 4.2 ms  0=25.30 1=65.20 ...": the request
// in words, its outcome, and what the answer says where the station answers
// like a module.
QString exchangeText(const HeardExchange &exchange);
// "读寄存器 0-14 (03)", "写 5 温度报警上限 = 50.00", "功能码 10".
QString heardRequestText(const HeardExchange &exchange);
// "应答正常 4.2 ms", "无应答", "模块拒绝：非法数据地址 (02)".
QString heardOutcomeText(const HeardExchange &exchange);
// What an answer says: "0=25.30  1=65.20", the device text, "地址 7"; empty
// unless answered.
QString heardValuesText(const HeardExchange &exchange);
// "站 1  请求 120  应答 100  异常 5  无应答 10  校验错误 5  其他 0  响应 p50 4.2 / p95 6.1 ms"
QString listenTotalsText(int station, const OutcomeTotals &totals);
// "无请求的应答 0  杂散字节 12"
QString listenNoiseText(const HeardTraffic &traffic);

} // namespace kc
