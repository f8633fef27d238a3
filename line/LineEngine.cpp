#include "line/LineEngine.h"

#include "protocol/Framing.h"
#include "protocol/SerialLink.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kc {

void ResponseTimes::add(double ms)
{
    const int step = std::clamp(int(ms * 10), 0, steps - 1);
    ++m_histogram[std::size_t(step)];
    ++m_count;
    m_last = ms;
    m_sum += ms;
    m_max = std::max(m_max, ms);
}

double ResponseTimes::p95() const
{
    if (m_count == 0)
        return -1;
    const long long rank = (m_count * 95 + 99) / 100; // the smallest value above 95 % of them
    long long seen = 0;
    for (int step = 0; step < steps; ++step) {
        seen += m_histogram[std::size_t(step)];
        if (seen >= rank)
            return std::min(m_max, (step + 1) / 10.0);
    }
    return m_max;
}

void StationTotals::add(const Outcome &o)
{
    counts.add(o);
    if (o.kind == OutcomeKind::Answered)
        times.add(o.responseMs);
}

double LineEngine::silenceMs(int baud)
{
    // 3.5 characters of 11 bits; above 19200 baud a fixed 1.75 ms.
    return baud > 19200 ? 1.75 : 3.5 * 11 * 1000.0 / baud;
}

std::function<double()> LineEngine::monotonicClock()
{
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    return [elapsed] { return double(elapsed->nsecsElapsed()) / 1e6; };
}

LineEngine::LineEngine(SerialLink *link, std::function<double()> clock, QObject *parent)
    : QObject(parent), m_link(link), m_clock(std::move(clock)), m_deadline(new QTimer(this)),
      m_wake(new QTimer(this))
{
    if (!m_link->parent())
        m_link->setParent(this);
    if (!m_clock)
        m_clock = monotonicClock();
    for (QTimer *t : {m_deadline, m_wake}) {
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
    }
    m_deadline->setObjectName(QStringLiteral("engineDeadline"));
    m_wake->setObjectName(QStringLiteral("engineWake"));
    connect(m_deadline, &QTimer::timeout, this, &LineEngine::onDeadline);
    connect(m_wake, &QTimer::timeout, this, &LineEngine::pump);
    connect(m_link, &SerialLink::comm, this, &LineEngine::onComm);
}

bool LineEngine::open()
{
    m_link->setSettings(QString::number(m_baud) + QStringLiteral(",N,8,1"));
    if (!m_link->open())
        return false;
    m_lost = false;
    m_link->setInputMode(1);
    m_link->setInputLen(0);
    m_link->discardInput();
    m_link->setRThreshold(1); // every arrival, so a frame is judged the moment it is whole
    return true;
}

void LineEngine::close()
{
    m_link->close();
}

bool LineEngine::changeBaud(int baud)
{
    m_baud = baud;
    if (!m_link->isOpen())
        return open();
    m_link->setSettings(QString::number(m_baud) + QStringLiteral(",N,8,1"));
    m_link->discardInput();
    return true;
}

void LineEngine::submit(const RequestPlan &plan)
{
    m_queue.enqueue(plan);
    pump();
}

Outcome LineEngine::transact(const RequestPlan &plan)
{
    Outcome result;
    QEventLoop loop;
    bool done = false;
    const auto connection =
        connect(this, &LineEngine::finished, &loop, [&](const Outcome &o, const RequestPlan &) {
            result = o;
            done = true;
            loop.quit();
        });
    submit(plan);
    if (!done)
        loop.exec();
    disconnect(connection);
    return result;
}

void LineEngine::pump()
{
    if (m_queue.isEmpty() || (m_busy && !m_resend))
        return;
    const double wait = m_quietUntil - m_clock();
    if (wait > 0) {
        m_wake->start(int(std::ceil(wait)));
        return;
    }
    if (!m_resend)
        m_attempt = 0;
    m_resend = false;
    m_busy = true;
    sendFront();
}

void LineEngine::sendFront()
{
    const RequestPlan &plan = m_queue.head();
    ++m_attempt;
    m_link->discardInput();
    m_link->output(plan.frame);
    m_sentAt = m_clock();
    emit sent(plan.frame);
    for (const Outcome &o : m_watch.start(plan, m_clock(), m_timeoutMs, m_baud))
        conclude(o);
    if (m_watch.waiting())
        m_deadline->start(int(std::ceil(m_watch.remainingMs(m_clock()))));
    awaitRest();
}

void LineEngine::awaitRest()
{
    // Once the frame's length is known, one receive event for the rest of it
    // rather than one per byte of a slow line; otherwise every arrival.
    const int rest = m_watch.waiting() ? m_watch.bytesStillExpected() : 0;
    m_link->setRThreshold(rest > 0 ? rest : 1);
}

void LineEngine::onComm()
{
    if (m_link->commEvent() == CommEventCode::LineLost && !m_link->isOpen()) {
        m_lost = true;
        emit lineLost();
        if (m_watch.waiting())
            conclude(*m_watch.expire({}, m_clock()));
        return;
    }
    if (m_link->commEvent() != CommEventCode::Receive)
        return;
    const QByteArray bytes = m_link->input();
    if (bytes.isEmpty())
        return;
    emit received(bytes);
    if (const auto outcome = m_watch.feed(bytes, m_clock()))
        conclude(*outcome);
    else
        awaitRest();
}

void LineEngine::onDeadline()
{
    if (!m_watch.waiting())
        return;
    const double left = m_watch.remainingMs(m_clock());
    if (left > 0) {
        m_deadline->start(int(std::ceil(left)));
        return;
    }
    const QByteArray late = m_link->isOpen() ? m_link->input() : QByteArray();
    if (!late.isEmpty())
        emit received(late);
    conclude(*m_watch.expire(late, m_clock()));
}

void LineEngine::conclude(Outcome outcome)
{
    m_deadline->stop();
    awaitRest();
    const RequestPlan plan = m_queue.head();
    m_totals[std::uint8_t(plan.frame[0])].add(outcome);
    // Nothing came back: the line has been quiet since the request's last byte left,
    // so a scan of an empty line costs its deadlines and no more.
    m_quietUntil =
        (outcome.bytes == 0 ? m_sentAt + wireMs(int(plan.frame.size()), m_baud) : m_clock()) +
        silenceMs(m_baud);
    const bool retry =
        (outcome.kind == OutcomeKind::NoReply || outcome.kind == OutcomeKind::Incomplete ||
         outcome.kind == OutcomeKind::BadChecksum) &&
        m_attempt <= m_retries && !m_lost;
    if (retry) {
        // The same request again once the line has been quiet.
        m_resend = true;
        pump();
        return;
    }
    m_queue.dequeue();
    m_busy = false;
    emit finished(outcome, plan);
    pump();
}

} // namespace kc
