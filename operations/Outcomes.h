#pragma once

#include "operations/Requests.h"
#include "protocol/Link.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>
#include <vector>

namespace kc {

// The response timeout a technician may set, in milliseconds.
inline constexpr int defaultTimeoutMs = 1000;
inline constexpr int minTimeoutMs = 20;
inline constexpr int maxTimeoutMs = 10000;

// What became of one request.
enum class OutcomeKind {
    Answered,     // a whole frame, good CRC, from the station and for the function asked
    Refused,      // a Modbus exception reply
    BadChecksum,  // a whole frame whose CRC does not hold
    WrongStation, // a good frame from another station, or for another function
    Mismatch,     // an answer that does not confirm what was asked
    Incomplete,   // some bytes, but no whole frame by the deadline
    NoReply,      // nothing by the deadline
    Broadcast,    // station 0: no module answers, and none should
    Superseded,   // the next request went out before this reply was whole
};

struct Outcome
{
    OutcomeKind kind = OutcomeKind::NoReply;
    Request request;        // what was asked
    double responseMs = -1; // last byte written to the reply's last byte read
    int exceptionCode = 0;  // refused
    int station = -1;       // station and function of the frame that was judged
    int function = -1;
    bool wrongFunction = false; // wrong station or function: the station was the one asked
    int bytes = 0;              // how many bytes arrived
    QByteArray frame;           // the judged frame
    int timeoutMs = 0;          // the response timeout in force, for the words

    bool answered() const { return kind == OutcomeKind::Answered; }
    // A whole frame came back, good or not.
    bool heardFrame() const;
};

// The outcome of the bytes received so far, or nothing while a whole frame
// may still arrive. timeUp: the deadline has passed.
std::optional<Outcome> judgeReply(const Request &asked, const QByteArray &received, bool timeUp);

// One request at a time, from sending to its outcome: collects the reply's
// bytes, says when the frame is whole, and judges what came by the deadline
// (the response timeout plus the expected reply's time on the wire).
class ReplyWatch
{
public:
    // A request went out at now (ms). A broadcast is judged at once; any
    // request still waiting is superseded. Returns those outcomes, oldest first.
    QVector<Outcome> start(const Request &request, double now, int timeoutMs, int baud);
    bool waiting() const { return m_waiting; }
    const Request &request() const { return m_request; }
    // Milliseconds from now to the deadline (0 once passed).
    double remainingMs(double now) const;
    // Bytes of the frame still to come; 0 while its length is not yet known.
    int bytesStillExpected() const;
    // Bytes that arrived at now: the outcome once the frame is whole.
    std::optional<Outcome> feed(const QByteArray &bytes, double now);
    // The deadline passed; late holds what arrived since the last feed.
    std::optional<Outcome> expire(const QByteArray &late, double now);
    // A newer request or mode takes the line.
    std::optional<Outcome> supersede();
    // Bytes the link knows are no answer to the request (a reply to another
    // Modbus TCP transaction, a length that lies): a mismatch, at once.
    std::optional<Outcome> reject(const QByteArray &bytes, double now);

private:
    std::optional<Outcome> finish(std::optional<Outcome> outcome, double now);

    bool m_waiting = false;
    Request m_request;
    int m_timeoutMs = 0;
    QByteArray m_received;
    double m_sentAt = 0;
    double m_deadline = 0;
};

// The name of a Modbus exception code: "非法数据值" for 03, "异常码 NN" for an unknown one.
QString exceptionName(int code);

// The outcome in words, as the status bar shows it.
QString outcomeText(const Outcome &outcome);
// What a technician does about it, in one line; empty when nothing is wrong.
QString outcomeAdvice(OutcomeKind kind);

// Why a port would not open, for the status bar and the CLI:
// "COM3 (/dev/ttyUSB0)：已被其他程序占用".
QString openFailureText(const QString &port, const QString &device, OpenFailure failure);

// "answered", "refused", "bad_checksum", ...: the outcome's key in JSON and CSV.
QString outcomeKey(OutcomeKind kind);

// Response times: last, mean, maximum and the 95th percentile, from a histogram
// (0.1 ms steps to 100 ms, 1 ms steps to 2 s, slower ones together) so days of
// polling cost no more memory than a minute.
class ResponseTimes
{
public:
    void add(double ms);
    long long count() const { return m_count; }
    double last() const { return m_last; }
    double mean() const { return m_count ? m_sum / double(m_count) : -1; }
    double max() const { return m_max; }
    double p95() const { return percentile(95); }
    double percentile(int p) const;

private:
    std::vector<unsigned> m_histogram; // made at the first time added
    long long m_count = 0;
    double m_last = -1, m_sum = 0, m_max = -1;
};

// What a line's requests came to. sent = answered + noReply + errors() + superseded;
// broadcasts are not counted, as nothing is awaited.
struct OutcomeTotals
{
    long long sent = 0, answered = 0, refused = 0, badChecksum = 0, wrongStation = 0,
              mismatch = 0, incomplete = 0, noReply = 0, superseded = 0;
    ResponseTimes times; // of the answered ones

    void add(const Outcome &outcome);
    long long errors() const
    {
        return refused + badChecksum + wrongStation + mismatch + incomplete;
    }
};

// "发送 12  应答 10  超时 1  错误 1  取代 0  响应 12.4 / 13.0 / 20.1 ms"
QString totalsText(const OutcomeTotals &totals);

} // namespace kc
