#include "line/PortPoller.h"

#include "line/LineEngine.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kc {

namespace {

constexpr int reopenEveryMs = 1000;

} // namespace

PortPoller::PortPoller(LineEngine *engine, int baud, std::function<double()> clock, QObject *parent)
    : QObject(parent), m_clock(clock ? std::move(clock) : LineEngine::monotonicClock()),
      m_engine(engine), m_wake(new QTimer(this)), m_reopen(new QTimer(this)), m_baud(baud)
{
    m_engine->setBaud(baud);
    m_wake->setSingleShot(true);
    m_wake->setTimerType(Qt::PreciseTimer);
    m_wake->setObjectName(QStringLiteral("pollerWake"));
    m_reopen->setInterval(reopenEveryMs);
    m_reopen->setObjectName(QStringLiteral("pollerReopen"));
    setTimeout(defaultTimeoutMs);
    connect(m_wake, &QTimer::timeout, this, &PortPoller::turn);
    connect(m_reopen, &QTimer::timeout, this, &PortPoller::reopen);
    connect(m_engine, &LineEngine::finished, this, &PortPoller::onFinished);
    connect(m_engine, &LineEngine::lineLost, this, &PortPoller::onLineLost);
    connect(m_engine, &LineEngine::connected, this, [this] {
        if (!m_lineUp)
            reopen();
    });
}

void PortPoller::addModule(WatchedModule *module)
{
    m_modules << module;
}

void PortPoller::setTimeout(int ms)
{
    m_engine->setTimeout(ms);
    m_deadRetryMs = std::max(10000, 20 * ms);
}

bool PortPoller::start()
{
    m_running = true;
    m_next = 0;
    m_pollHappened = false;
    m_cycleStart = m_clock();
    if (!m_engine->open()) {
        markLine(LineState::NotOpened);
        emit lineDown();
        m_reopen->start();
        return false;
    }
    m_lineUp = true;
    markLine(LineState::Polling);
    emit lineUp();
    turn();
    return true;
}

bool PortPoller::interject(const Request &request, Interjected done, int baud)
{
    if (!m_running || !m_lineUp)
        return false;
    if (m_answering) // the next step of the request just answered
        m_interjections.push_front({request, std::move(done), baud, true});
    else
        m_interjections.push_back({request, std::move(done), baud, false});
    turn();
    return true;
}

void PortPoller::stop()
{
    m_running = false;
    m_lineUp = false;
    m_current = nullptr;
    m_interjecting = false;
    dropInterjections();
    m_wake->stop();
    m_reopen->stop();
    m_engine->close();
}

void PortPoller::wakeIn(double ms)
{
    m_wake->start(std::max(0, int(std::ceil(ms))));
}

void PortPoller::turn()
{
    if (!m_running || !m_lineUp || m_current || m_interjecting)
        return;
    // Others' requests take turns with the modules, one between two polls, so
    // neither a busy client nor the polling shuts the other out. A request's
    // next step goes at once.
    if (!m_interjections.empty() && (!m_pollOwed || m_interjections.front().followUp))
        return interjectNext();
    m_pollOwed = false;
    if (!pollNext() && !m_interjections.empty())
        interjectNext(); // no module is due yet
}

void PortPoller::interjectNext()
{
    // Set before submitting: a request judged at once (a broadcast) finishes inside.
    m_interjecting = true;
    const Interjection &next = m_interjections.front();
    atBaud(next.baud > 0 ? next.baud : m_baud);
    m_engine->submit(next.request);
}

bool PortPoller::pollNext()
{
    if (m_modules.isEmpty())
        return false;
    const double now = m_clock();
    if (now < m_cycleStart) {
        wakeIn(m_cycleStart - now);
        return false;
    }
    for (;;) {
        if (m_next >= m_modules.size()) {
            m_next = 0;
            const bool idle = !m_pollHappened;
            m_pollHappened = false;
            if (!idle)
                ++m_cycles;
            if (m_cycleMs > 0) {
                // A round that overran its period starts the next one at once.
                m_cycleStart = std::max(m_cycleStart + m_cycleMs, now);
                if (m_cycleStart > now) {
                    wakeIn(m_cycleStart - now);
                    return false;
                }
            } else if (idle) {
                // Every module is dead and none is due yet: wait for the first that is.
                double due = m_modules.front()->nextTryMs;
                for (const WatchedModule *m : m_modules)
                    due = std::min(due, m->nextTryMs);
                wakeIn(due - now);
                return false;
            }
        }
        WatchedModule *m = m_modules[m_next++];
        if (m->dead && now < m->nextTryMs)
            continue;
        m_pollHappened = true;
        sendTo(m, m->deviceTextRead ? RequestKind::RegisterRead : RequestKind::DeviceInfo);
        return true;
    }
}

void PortPoller::atBaud(int baud)
{
    if (m_engine->baud() != baud)
        m_engine->changeBaud(baud);
}

void PortPoller::sendTo(WatchedModule *module, RequestKind kind)
{
    m_current = module;
    atBaud(m_baud); // an interjection may have left the line at another rate
    // The fifteen registers: readings, alarm state and the module's own limits.
    m_engine->submit(kind == RequestKind::DeviceInfo
                         ? Request::deviceInfo(module->station)
                         : Request::registerRead(module->station, 0, registerCount));
}

void PortPoller::finishInterjection(const std::optional<Outcome> &outcome)
{
    m_interjecting = false;
    m_pollOwed = true;
    const Interjection done = std::move(m_interjections.front());
    m_interjections.pop_front();
    m_answering = true;
    done.done(outcome);
    m_answering = false;
}

void PortPoller::dropInterjections()
{
    // The one on the line, if any, is answered by its outcome when it comes.
    std::deque<Interjection> waiting;
    waiting.swap(m_interjections);
    if (m_interjecting) {
        m_interjections.push_back(std::move(waiting.front()));
        waiting.pop_front();
    }
    for (const Interjection &i : waiting)
        i.done(std::nullopt);
}

void PortPoller::onFinished(const Outcome &outcome)
{
    if (m_interjecting) {
        // An outcome of a lost line says nothing of what was asked.
        finishInterjection(m_engine->lost() ? std::nullopt : std::optional<Outcome>(outcome));
        turn();
        return;
    }
    WatchedModule *m = m_current;
    // Outcomes of a stopped run or of a lost line belong to nobody.
    if (!m || !m_running || m_engine->lost())
        return;
    m_current = nullptr;
    m->last = outcome;
    const bool deviceStep = outcome.request.kind == RequestKind::DeviceInfo;
    switch (outcome.kind) {
    case OutcomeKind::Answered:
        ++m->answered;
        m->silentInRow = 0;
        m->dead = false;
        if (deviceStep) {
            m->deviceText = deviceTextOf(outcome).value_or(QString());
            m->deviceTextRead = true;
            sendTo(m, RequestKind::RegisterRead); // the same turn goes on to the values
            return;
        }
        m->reading = readingOf(outcome);
        if (m->reading && m->reading->limits)
            m->limits = m->reading->limits;
        break;
    case OutcomeKind::NoReply:
    case OutcomeKind::Superseded:
        ++m->noReply;
        if (++m->silentInRow >= deadAfter)
            m->dead = true;
        if (m->dead)
            m->nextTryMs = m_clock() + m_deadRetryMs;
        break;
    default:
        // Bytes came back: the module is there, the line or the module is at fault.
        ++m->errors;
        m->silentInRow = 0;
        m->dead = false;
        if (deviceStep && outcome.kind == OutcomeKind::Refused) {
            // A module without the device-information request still has values.
            m->deviceTextRead = true;
            sendTo(m, RequestKind::RegisterRead);
            return;
        }
        break;
    }
    emit polled(m, outcome);
    turn();
}

void PortPoller::onLineLost()
{
    // A network line that failed to connect again: the rows say so already.
    if (!m_lineUp)
        return;
    m_current = nullptr;
    m_lineUp = false;
    m_wake->stop();
    dropInterjections();
    markLine(LineState::Lost);
    emit lineDown();
    if (m_running)
        m_reopen->start();
}

void PortPoller::reopen()
{
    // A request queued before the loss must run out first: its outcome is nobody's.
    if (!m_running || m_engine->pending() > 0 || (!m_engine->isOpen() && !m_engine->open()))
        return;
    // A network line is back once connected, not when it starts connecting.
    if (m_engine->connecting())
        return;
    m_reopen->stop();
    m_lineUp = true;
    markLine(LineState::Polling);
    m_next = 0;
    m_pollHappened = false;
    m_cycleStart = m_clock();
    emit lineUp();
    turn();
}

void PortPoller::markLine(LineState state)
{
    for (WatchedModule *m : m_modules)
        m->line = state;
}

} // namespace kc
