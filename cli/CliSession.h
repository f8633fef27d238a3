#pragma once

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "operations/Requests.h"

#include <QObject>
#include <QTextStream>

#include <functional>
#include <memory>

namespace kc {

class LineEngine;

// What every command shares: the options, the line, standard output and error,
// the worst status met so far, and whether Ctrl+C asked it to stop.
class CliSession : public QObject
{
    Q_OBJECT
public:
    CliSession(CliOptions options, QTextStream &out, QTextStream &err);
    ~CliSession() override;

    const CliOptions &options() const { return m_options; }
    Output &out() { return m_output; }
    QTextStream &err() { return m_err; }

    // A refused argument or value: its message on standard error, status 2.
    int refuse(const QString &message);
    // Station 0 is a broadcast, which nothing answers: refused for a command
    // that needs an answer, before anything is sent.
    std::optional<int> answeringStation(const std::optional<int> &station);
    // The request the options make, or nothing after its refusal was printed.
    std::optional<Request> accepted(const Planned &planned);
    // Opens the line, a network line once connected; false after printing why (status 6).
    bool openLine();
    LineEngine *engine() const { return m_engine.get(); }
    Outcome transact(const Request &request);
    void meet(int status);
    int worst() const { return m_worst; }

    // Ctrl+C: a running command ends after the request in hand.
    void interrupt();
    bool stopped() const { return m_stop; }
    // Called with interrupt(), for a command that runs its own loop.
    void onInterrupt(std::function<void()> f) { m_onInterrupt = std::move(f); }
    // Runs the event loop for ms (forever when negative) or until stopped.
    void waitMs(double ms);
    void printStats();

private:
    // Says why on standard error; status 6.
    bool failToOpen(const QString &message);

    CliOptions m_options;
    Output m_output;
    QTextStream &m_err;
    std::unique_ptr<LineEngine> m_engine;
    std::function<void()> m_onInterrupt;
    bool m_stop = false;
    int m_worst = Exit::Ok;
};

// The commands, each run against a session; the exit status.
int runPorts(CliSession &s);
int runRead(CliSession &s);
int runWrite(CliSession &s);
int runAddress(CliSession &s);
int runSetAddress(CliSession &s);
int runInfo(CliSession &s);
int runPoll(CliSession &s);
int runUploads(CliSession &s);
int runScan(CliSession &s);
int runSnapshot(CliSession &s);
int runApply(CliSession &s);
int runDiagnose(CliSession &s);
int runListen(CliSession &s);

// The command the options name, its statistics after it when asked.
int runCommand(CliSession &s);

} // namespace kc
