#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the real kc4420-sim with the control channel on, for end-to-end tests.
class SimProcess
{
public:
    struct Stats
    {
        long long requests = -1;
        long long replies = -1;
        long long ignored = -1;
        long long uploads = -1;
    };

    explicit SimProcess(const QStringList &arguments);
    ~SimProcess();

    static QString program();

    bool ready() const { return !m_ptyPath.isEmpty(); }
    QString ptyPath() const { return m_ptyPath; }

    void command(const QString &line);
    // Next line on stdout, empty on timeout.
    QString readLine(int timeoutMs = 3000);
    // Also a barrier: every earlier command has been handled once it answers.
    Stats stats();
    // Sends "quit"; the exit code, or -1 when it did not stop.
    int quit();
    // Lines printed after quit.
    QStringList remainingOutput();

private:
    QProcess m_process;
    QString m_ptyPath;
};
