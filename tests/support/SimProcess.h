#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

// The real kc4420-sim with its control channel on, for tests and benches. Its
// output goes to a file, so nothing in the process under test or measurement
// wakes up to read it; lines are read back from there.
class SimProcess
{
public:
    struct Stats
    {
        long long requests = -1;
        long long replies = -1;
        long long ignored = -1;
        long long uploads = -1;
        long long rxBytes = -1; // all the tool's side sent
        long long masterRequests = -1;
        long long masterReplies = -1;
    };

    explicit SimProcess(const QStringList &arguments);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool ready() const { return !m_ptyPath.isEmpty() || m_tcpPort > 0; }
    QString ptyPath() const { return m_ptyPath; }
    // The port on 127.0.0.1 a start with --tcp listens on, 0 otherwise.
    int tcpPort() const { return m_tcpPort; }

    void command(const QString &line);
    // The next line not read yet, empty when none came within timeoutMs.
    QString readLine(int timeoutMs = 3000);
    // Also a barrier: every earlier command has been handled once it answers.
    Stats stats();
    // The fifteen register words as the module holds them.
    std::vector<std::uint16_t> registers();
    // Every "SENT" stamp printed so far.
    std::vector<std::int64_t> sentStamps() const;
    // Sends "quit"; the exit code, or -1 when it did not stop and was killed.
    int quit();

private:
    // Complete lines only: one being written is left for the next look.
    QStringList outputLines() const;
    // Sends a command and waits for the first new line starting with prefix; what
    // was printed before it counts as read.
    QString ask(const QString &command, const QString &prefix);

    QTemporaryDir m_dir;
    QString m_outputPath;
    QProcess m_process;
    QString m_ptyPath;
    int m_tcpPort = 0;
    qsizetype m_linesRead = 0;
};
