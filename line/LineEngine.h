#pragma once

#include "operations/Outcomes.h"
#include "operations/Requests.h"
#include "protocol/AdapterEcho.h"

#include <QHash>
#include <QObject>
#include <QQueue>

#include <functional>

class QTimer;

namespace kc {

class Link;
class PreciseWake;

// One line for everything that asks modules: one request at a time, its reply
// collected until the frame is whole or the deadline passes, judged, and
// reported with the request it answers and its response time. Between a reply
// and the next queued request the line stays quiet for 3.5 characters (1.75 ms
// above 19200 baud), counted from the reply's last byte, unless the link frames
// its messages itself (Modbus TCP). A request's time starts when it goes out,
// so on a network line still connecting it waits for the connection first.
class LineEngine : public QObject
{
    Q_OBJECT
public:
    // The engine takes a link nobody owns. clock: monotonic milliseconds.
    explicit LineEngine(Link *link, std::function<double()> clock = {},
                        QObject *parent = nullptr);

    Link *link() const { return m_link; }
    // The port as named, for logs.
    QString port() const;
    void setTimeout(int ms) { m_timeoutMs = ms; }
    int timeout() const { return m_timeoutMs; }
    void setRetries(int retries) { m_retries = retries; }
    int retries() const { return m_retries; }
    void setBaud(int baud);
    int baud() const { return m_baud; }
    // What the adapter does with each request; see AdapterEcho.
    void setEchoMode(EchoMode mode) { m_echo.setMode(mode); }
    EchoMode echoMode() const { return m_echo.mode(); }

    // Opens the link at the engine's baud rate; false when it cannot.
    bool open();
    void close();
    bool isOpen() const;
    // Another baud rate: an open link takes it at once, without closing (a
    // close and open can cost more than a probe); a closed one is opened at it.
    bool changeBaud(int baud);
    // The line went away and has not been opened since.
    bool lost() const { return m_lost; }
    // A network line still connecting: requests wait for it, up to its connect timeout.
    bool connecting() const;

    // Queues a request; finished() reports its outcome.
    void submit(const Request &request);
    // The operator's own rhythm: whatever waits is superseded and the request
    // goes out at once.
    void sendNow(const Request &request);
    // The request in hand and those queued are superseded; nothing is awaited
    // (the module's own records are, through received()).
    void stopWaiting();
    // Submits and runs the event loop until the outcome is in.
    Outcome transact(const Request &request);
    bool busy() const { return m_busy; }
    // Requests submitted and not yet finished, the one on the line included.
    int pending() const { return int(m_queue.size()); }

    // Every attempt, by station.
    const QHash<int, OutcomeTotals> &totals() const { return m_totals; }
    void resetTotals() { m_totals.clear(); }

    // Quiet time the line needs between frames at a baud rate, in ms.
    static double silenceMs(int baud);
    // Monotonic milliseconds from now on: the clock an engine reads unless given one.
    static std::function<double()> monotonicClock();

signals:
    void finished(const kc::Outcome &outcome);
    // Every frame sent and every delivery received, for traces and logs.
    void sent(const QByteArray &frame);
    void received(const QByteArray &bytes);
    // A request came back from the adapter and was taken off the reply.
    void echoed(const QByteArray &frame);
    void lineLost();
    // A network line's connection is up; requests that waited for it go out.
    void connected();

private:
    void pump();
    void sendFront();
    void awaitRest();
    void onArrived();
    // The bytes for the reply once the echo is off them.
    QByteArray withoutEcho(const QByteArray &bytes);
    void onLost();
    void onNoAnswer(const QByteArray &bytes);
    void onDeadline();
    void conclude(Outcome outcome);
    void supersedeAll();

    Link *m_link;
    std::function<double()> m_clock;
    QTimer *m_deadline;
    PreciseWake *m_wake;
    ReplyWatch m_watch;
    AdapterEcho m_echo;
    QQueue<Request> m_queue;
    QHash<int, OutcomeTotals> m_totals;
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
