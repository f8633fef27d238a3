#pragma once

#include "operations/ModuleReading.h"
#include "operations/Outcomes.h"
#include "operations/Requests.h"

#include <QDateTime>
#include <QObject>
#include <QVector>

#include <deque>
#include <functional>
#include <optional>

class QTimer;

namespace kc {

class LineEngine;

// Why a module's line is not being polled.
enum class LineState {
    Polling,
    NotOpened, // the port would not open; tried again once a second
    Lost,      // the port went away; reopened by itself once it is back
    Held,      // another tool holds the port
};

// One module the monitor watches, and what it knows of it.
struct WatchedModule
{
    QString port;
    int station = 1;
    int baud = 9600; // its port's
    int row = 0;     // its place in the monitor's list

    QString deviceText; // read once, at its first poll
    bool deviceTextRead = false;
    std::optional<Reading> reading;    // the last one answered
    std::optional<AlarmLimits> limits; // its own, registers 5 to 8
    std::optional<Outcome> last;
    long long answered = 0, noReply = 0, errors = 0;
    QDateTime lastSeen;

    int silentInRow = 0; // requests without a byte back, one after the other
    bool dead = false;   // stopped answering: polled at a slower rate
    double nextTryMs = 0;
    LineState line = LineState::Polling;

    bool outsideLimits() const { return reading && kc::outsideLimits(*reading, limits); }
};

// The modules of one port, polled in turn by the port's own engine: back to
// back with the line's silence between them, or once per cycle period. A
// module that stops answering is tried only every deadRetryMs until it
// answers again, so its timeouts do not slow the others. A lost port is
// reopened by itself once a second, and polling carries on where it was.
// Requests of others (a write from the plant, a relayed request) go between
// the turns, so the line keeps one master.
class PortPoller : public QObject
{
    Q_OBJECT
public:
    static constexpr int deadAfter = 3; // requests in a row without an answer
    // An interjected request's outcome; nothing when the line went down first.
    using Interjected = std::function<void(const std::optional<Outcome> &)>;

    // The engine is the port's, taken for the poller. clock: monotonic milliseconds.
    PortPoller(LineEngine *engine, int baud, std::function<double()> clock = {},
               QObject *parent = nullptr);

    void addModule(WatchedModule *module);
    // Also sets the slower rate of a dead module: at least ten seconds, and
    // twenty timeouts, so a dead module costs the line at most 5 % of its time.
    void setTimeout(int ms);
    void setDeadRetryMs(int ms) { m_deadRetryMs = ms; }
    // 0: back to back.
    void setCyclePeriod(int ms) { m_cycleMs = ms; }

    // Sends request at baud (0: the line's; the turns go on at the line's):
    // at once while the poller waits for its next round, else between two
    // turns, one such request between each two, in the order they came. Its
    // outcome goes to done and never counts as a module's poll; done may
    // interject the next step, which then goes first. False, and done never
    // called, while the line is down or the poller stopped.
    bool interject(const Request &request, Interjected done, int baud = 0);

    // False when the port would not open; it is tried again once a second.
    bool start();
    void stop();
    bool isLineUp() const { return m_lineUp; }
    LineEngine *engine() const { return m_engine; }
    // Rounds through the modules completed since start().
    long long cycles() const { return m_cycles; }

signals:
    // A module's turn is over: the outcome of its register read, or of the
    // request that ended the turn early.
    void polled(kc::WatchedModule *module, const kc::Outcome &outcome);
    // The port was lost, or would not open: every module's line state says so.
    void lineDown();
    void lineUp();

private:
    struct Interjection
    {
        Request request;
        Interjected done;
        int baud;
        bool followUp; // a step of the request before it: it goes at once
    };

    void turn();
    void interjectNext();
    // Sends the next module's request; false when none is due yet.
    bool pollNext();
    void sendTo(WatchedModule *module, RequestKind kind);
    void atBaud(int baud);
    void finishInterjection(const std::optional<Outcome> &outcome);
    void dropInterjections();
    void onFinished(const Outcome &outcome);
    void onLineLost();
    void reopen();
    void markLine(LineState state);
    void wakeIn(double ms);

    std::function<double()> m_clock;
    LineEngine *m_engine;
    QTimer *m_wake;
    QTimer *m_reopen;
    QVector<WatchedModule *> m_modules;
    WatchedModule *m_current = nullptr;
    std::deque<Interjection> m_interjections; // the front is on the line while m_interjecting
    bool m_interjecting = false;
    bool m_answering = false; // inside an interjection's done
    bool m_pollOwed = false;  // an interjection went since the last turn
    int m_baud;
    int m_next = 0;
    bool m_pollHappened = false; // in the round so far
    bool m_running = false;
    bool m_lineUp = false;
    int m_cycleMs = 0;
    int m_deadRetryMs = 20000;
    double m_cycleStart = 0;
    long long m_cycles = 0;
};

} // namespace kc
