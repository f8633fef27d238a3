#include "line/ListenFramer.h"

#include "line/LineEngine.h"

#include <QTimer>

#include <cmath>
#include <limits>

namespace kc {

namespace {

// Adapters hand on what they received in bursts (an FTDI chip every 16 ms
// unless told otherwise): a frame whose length is known waits that long and
// a little more for its rest before a silence ends it.
constexpr double burstMs = 20;

} // namespace

ListenFramer::ListenFramer(LineEngine *engine, std::function<double()> clock, QObject *parent)
    : QObject(parent), m_clock(clock ? std::move(clock) : LineEngine::monotonicClock()),
      m_framer(LineEngine::silenceMs(engine->baud()),
               LineEngine::silenceMs(engine->baud()) + burstMs),
      m_silence(new QTimer(this))
{
    m_silence->setObjectName(QStringLiteral("listenSilence"));
    m_silence->setSingleShot(true);
    m_silence->setTimerType(Qt::PreciseTimer);
    connect(m_silence, &QTimer::timeout, this, &ListenFramer::silence);
    connect(engine, &LineEngine::received, this, &ListenFramer::heard);
}

void ListenFramer::finish()
{
    m_silence->stop();
    pass(m_framer.idle(std::numeric_limits<double>::infinity()));
    for (const HeardExchange &x : m_traffic.finish())
        emit exchange(x);
}

void ListenFramer::heard(const QByteArray &bytes)
{
    pass(m_framer.feed(bytes, m_clock()));
    armSilence();
}

void ListenFramer::silence()
{
    pass(m_framer.idle(m_clock()));
    armSilence();
}

void ListenFramer::armSilence()
{
    const double at = m_framer.cutAt();
    if (at < 0)
        return m_silence->stop();
    m_silence->start(std::max(1, int(std::ceil(at - m_clock()))));
}

void ListenFramer::pass(const QVector<HeardFrame> &frames)
{
    for (const HeardFrame &frame : frames) {
        for (const HeardExchange &x : m_traffic.take(frame))
            emit exchange(x);
    }
}

} // namespace kc
