#include "line/LineEngine.h"

#include "line/PreciseWake.h"
#include "protocol/Framing.h"
#include "protocol/Link.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <memory>

namespace kc {

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

LineEngine::LineEngine(Link *link, std::function<double()> clock, QObject *parent)
    : QObject(parent), m_link(link), m_clock(std::move(clock)), m_deadline(new QTimer(this)),
      m_wake(new PreciseWake(this))
{
    if (!m_link->parent())
        m_link->setParent(this);
    if (!m_clock)
        m_clock = monotonicClock();
    m_baud = m_link->baud();
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    m_deadline->setObjectName(QStringLiteral("engineDeadline"));
    m_wake->setObjectName(QStringLiteral("engineWake"));
    connect(m_deadline, &QTimer::timeout, this, &LineEngine::onDeadline);
    connect(m_wake, &PreciseWake::timeout, this, &LineEngine::pump);
    connect(m_link, &Link::arrived, this, &LineEngine::onArrived);
    connect(m_link, &Link::lost, this, &LineEngine::onLost);
    connect(m_link, &Link::noAnswer, this, &LineEngine::onNoAnswer);
    connect(m_link, &Link::connected, this, [this] {
        emit connected();
        pump();
    });
}

QString LineEngine::port() const
{
    return m_link->name();
}

void LineEngine::setBaud(int baud)
{
    m_baud = baud;
    m_link->setBaud(baud);
}

bool LineEngine::open()
{
    if (!m_link->open())
        return false;
    m_lost = false;
    m_link->discardInput();
    awaitRest();
    return true;
}

void LineEngine::close()
{
    m_link->close();
}

bool LineEngine::isOpen() const
{
    return m_link->isOpen();
}

bool LineEngine::connecting() const
{
    return m_link->connecting();
}

bool LineEngine::changeBaud(int baud)
{
    setBaud(baud);
    if (!m_link->isOpen())
        return open();
    m_link->discardInput();
    return true;
}

void LineEngine::submit(const Request &request)
{
    m_queue.enqueue(request);
    pump();
}

void LineEngine::sendNow(const Request &request)
{
    supersedeAll();
    m_queue.enqueue(request);
    m_wake->stop();
    if (m_link->connecting())
        return; // out once connected
    m_attempt = 0;
    m_busy = true;
    sendFront();
}

void LineEngine::stopWaiting()
{
    supersedeAll();
    m_echo.stop();
    awaitRest();
}

void LineEngine::supersedeAll()
{
    m_deadline->stop();
    m_wake->stop();
    m_resend = false;
    m_busy = false;
    // The one on the line keeps the bytes it had; the others never went out.
    const std::optional<Outcome> onLine = m_watch.supersede();
    QQueue<Request> queued;
    queued.swap(m_queue);
    for (qsizetype i = 0; i < queued.size(); ++i) {
        Outcome o = i == 0 && onLine ? *onLine : Outcome{};
        o.kind = OutcomeKind::Superseded;
        o.request = queued[i];
        o.timeoutMs = m_timeoutMs;
        m_totals[o.request.station].add(o);
        emit finished(o);
    }
}

Outcome LineEngine::transact(const Request &request)
{
    Outcome result;
    QEventLoop loop;
    bool done = false;
    const auto connection = connect(this, &LineEngine::finished, &loop, [&](const Outcome &o) {
        if (done || o.request != request)
            return;
        result = o;
        done = true;
        loop.quit();
    });
    submit(request);
    if (!done)
        loop.exec();
    disconnect(connection);
    return result;
}

void LineEngine::pump()
{
    if (m_queue.isEmpty() || (m_busy && !m_resend))
        return;
    if (m_link->connecting())
        return; // again once connected
    const double wait = m_quietUntil - m_clock();
    if (wait > 0 && m_link->isOpen()) {
        m_wake->start(wait);
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
    const Request request = m_queue.head();
    ++m_attempt;
    if (!m_link->isOpen()) {
        // Nothing can come back on a closed line: no deadline to wait out.
        Outcome o;
        o.kind = OutcomeKind::NoReply;
        o.request = request;
        o.timeoutMs = m_timeoutMs;
        m_attempt = m_retries + 1;
        return conclude(o);
    }
    const QByteArray frame = request.frame();
    m_link->discardInput();
    m_link->write(frame);
    m_sentAt = m_clock();
    m_echo.sent(frame);
    emit sent(frame);
    for (const Outcome &o : m_watch.start(request, m_sentAt, m_timeoutMs, m_baud))
        conclude(o);
    if (m_watch.waiting())
        m_deadline->start(int(std::ceil(m_watch.remainingMs(m_clock()))));
    awaitRest();
}

void LineEngine::awaitRest()
{
    // Once the frame's length is known, one wake-up for the rest of it rather
    // than one per byte of a slow line; otherwise every arrival.
    const int rest = m_watch.waiting() ? m_watch.bytesStillExpected() : 0;
    m_link->setWakeAt(rest > 0 ? rest : 1);
}

void LineEngine::onLost()
{
    m_lost = true;
    emit lineLost();
    if (m_watch.waiting())
        conclude(*m_watch.expire({}, m_clock()));
    else
        pump(); // requests that waited for a connection that never came
}

void LineEngine::onNoAnswer(const QByteArray &bytes)
{
    emit received(bytes);
    if (const auto outcome = m_watch.reject(bytes, m_clock()))
        conclude(*outcome);
}

void LineEngine::onArrived()
{
    const QByteArray bytes = m_link->readAll();
    if (bytes.isEmpty())
        return;
    emit received(bytes);
    const QByteArray reply = withoutEcho(bytes);
    std::optional<Outcome> outcome;
    if (!reply.isEmpty())
        outcome = m_watch.feed(reply, m_clock());
    if (outcome)
        conclude(*outcome);
    else
        awaitRest();
}

QByteArray LineEngine::withoutEcho(const QByteArray &bytes)
{
    const AdapterEcho::Step step = m_echo.feed(bytes);
    if (!step.echo.isEmpty())
        emit echoed(step.echo);
    return step.rest;
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
    const QByteArray late = m_link->isOpen() ? m_link->readAll() : QByteArray();
    if (!late.isEmpty())
        emit received(late);
    // A beginning of the echo that never became whole was the reply's after all.
    const QByteArray reply = withoutEcho(late) + m_echo.release();
    conclude(*m_watch.expire(reply, m_clock()));
}

void LineEngine::conclude(Outcome outcome)
{
    m_deadline->stop();
    awaitRest();
    if (m_queue.isEmpty())
        return;
    const Request request = m_queue.head();
    m_totals[request.station].add(outcome);
    // Nothing came back: the line has been quiet since the request's last byte left,
    // so a scan of an empty line costs its deadlines and no more.
    if (!m_link->needsSilence())
        m_quietUntil = 0;
    else
        m_quietUntil = (outcome.bytes == 0 ? m_sentAt + wireMs(int(request.frame().size()), m_baud)
                                           : m_clock()) +
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
    emit finished(outcome);
    pump();
}

} // namespace kc
