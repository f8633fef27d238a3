#pragma once

#include "operations/Outcomes.h"
#include "operations/Requests.h"

#include <QHash>
#include <QObject>
#include <QQueue>

#include <array>
#include <functional>

class QTimer;

namespace kc {

class SerialLink;

// Response times of one station: last, mean, maximum and the 95th
// percentile, from a histogram of 0.1 ms steps so days of polling cost no
// more memory than a minute.
class ResponseTimes
{
public:
    void add(double ms);
    long long count() const { return m_count; }
    double last() const { return m_last; }
    double mean() const { return m_count ? m_sum / double(m_count) : -1; }
    double max() const { return m_max; }
    double p95() const;

private:
    static constexpr int steps = 20000; // 0.1 ms up to 2 s; slower ones share the last
    std::array<unsigned, steps> m_histogram{};
    long long m_count = 0;
    double m_last = -1, m_sum = 0, m_max = -1;
};

// What one station's requests came to, every attempt counted.
struct StationTotals
{
    OutcomeTotals counts;
    ResponseTimes times;
    void add(const Outcome &outcome);
};

// One serial link for programs that wait for answers: one request at a time,
// its reply collected until the frame is whole or the deadline passes, judged,
// and reported with its response time. Between a reply and the next request
// the line stays quiet for 3.5 characters (1.75 ms above 19200 baud).
class LineEngine : public QObject
{
    Q_OBJECT
public:
    // The engine takes a link nobody owns; one with a parent (a window's port, lent to a
    // tool) stays its owner's. clock: monotonic milliseconds.
    explicit LineEngine(SerialLink *link, std::function<double()> clock = {},
                        QObject *parent = nullptr);

    SerialLink *link() const { return m_link; }
    void setTimeout(int ms) { m_timeoutMs = ms; }
    int timeout() const { return m_timeoutMs; }
    void setRetries(int retries) { m_retries = retries; }
    int retries() const { return m_retries; }
    void setBaud(int baud) { m_baud = baud; }
    int baud() const { return m_baud; }

    // Opens the link at the engine's baud rate; false when it cannot.
    bool open();
    void close();
    // Another baud rate: an open link takes it at once, without closing (a
    // close and open can cost more than a probe); a closed one is opened at it.
    bool changeBaud(int baud);
    bool lost() const { return m_lost; }

    // Queues a request; finished() reports its outcome.
    void submit(const RequestPlan &plan);
    // Submits and runs the event loop until the outcome is in.
    Outcome transact(const RequestPlan &plan);
    bool busy() const { return m_busy; }
    // Requests submitted and not yet finished, the one on the line included.
    int pending() const { return int(m_queue.size()); }

    const QHash<int, StationTotals> &totals() const { return m_totals; }
    void resetTotals() { m_totals.clear(); }

    // Quiet time the line needs between frames at a baud rate, in ms.
    static double silenceMs(int baud);
    // Monotonic milliseconds from now on: the clock an engine reads unless given one.
    static std::function<double()> monotonicClock();

signals:
    void finished(const kc::Outcome &outcome, const kc::RequestPlan &plan);
    // Every frame sent and every delivery received, for traces and logs.
    void sent(const QByteArray &frame);
    void received(const QByteArray &bytes);
    void lineLost();

private:
    void pump();
    void sendFront();
    void awaitRest();
    void onComm();
    void onDeadline();
    void conclude(Outcome outcome);

    SerialLink *m_link;
    std::function<double()> m_clock;
    QTimer *m_deadline;
    QTimer *m_wake;
    ReplyWatch m_watch;
    QQueue<RequestPlan> m_queue;
    QHash<int, StationTotals> m_totals;
    int m_timeoutMs = defaultTimeoutMs;
    int m_retries = 0;
    int m_baud = 9600;
    int m_attempt = 0;
    bool m_busy = false;
    bool m_resend = false;
    bool m_lost = false;
    double m_quietUntil = 0;
    double m_sentAt = 0;
};

} // namespace kc
