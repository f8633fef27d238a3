// kc4420-cli as a script runs it, against the simulated module on a pseudo-terminal.

#include "SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct CliResult
{
    int status = -1;
    QString out, err;
};

CliResult cli(const SimProcess &sim, QStringList args)
{
    QProcess p;
    p.start(QStringLiteral(KC_CLI_PATH), QStringList{"--port", sim.ptyPath()} + args);
    p.waitForFinished(20000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

// Each command with what it prints and its exit status; a refused argument
// sends nothing.
TEST(Cli, CommandsOutputsAndExitStatuses)
{
    struct Case
    {
        QStringList sim, args;
        int status;
        const char *out; // a piece of standard output, or of standard error for status 2
        long long requests;
    };
    const Case cases[] = {
        {{}, {"read", "--count", "2"}, 0, " 1  1 湿度值", 1},
        {{}, {"--json", "info"}, 0, "\"device\":\"KC4420P-V12\"", 1},
        {{}, {"write", "5=30.5"}, 0, "回读 30.50 一致", 2},
        {{}, {"address"}, 0, "地址 1", 1},
        {{}, {"set-address", "9"}, 0, "站 9 确认：应答正常", 2},
        {{}, {"write", "3=10.5"}, 2, "你输入的值有误，正确的值范围为-10到10!", 0},
        {{}, {"--station", "x", "info"}, 2, "你输入的设备地址格式有误!", 0},
        {{}, {"--baud", "1200", "read"}, 2, "正确的值范围为2400,4800,9600,19200或38400!", 0},
        {{}, {"--station", "9", "--timeout", "50", "read"}, 3, "无应答 (超时 50 ms)", 1},
        {{"--refuse-writes", "3"}, {"--json", "write", "5=1"}, 4, "\"exception\":3", 1},
        {{"--answer-as", "7"}, {"read"}, 5, "应答来自站 7", 1},
        {{"--ignore-writes"}, {"write", "5=1"}, 5, "不一致", 2},
    };
    for (const auto &c : cases) {
        SimProcess sim(QStringList{"--fixed"} + c.sim);
        ASSERT_TRUE(sim.ready());
        const CliResult r = cli(sim, c.args);
        const QString args = c.args.join(' ');
        EXPECT_EQ(r.status, c.status) << args.toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE((c.status == 2 ? r.err : r.out).contains(QString::fromUtf8(c.out)))
            << args.toStdString() << "\n"
            << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(sim.stats().requests, c.requests) << args.toStdString();
    }
}

// A hundred cycles give a hundred rows whose outcomes add up with the totals.
TEST(Cli, PollCountsAndStats)
{
    SimProcess sim({"--fixed"});
    const CliResult r = cli(sim, {"--json", "--stats", "poll", "--count", "100", "--period", "50"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    int cycles = 0, answered = 0;
    QJsonObject stats;
    for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.contains("cycle")) {
            ++cycles;
            answered += o["outcome"] == "answered";
        } else {
            stats = o;
        }
    }
    EXPECT_EQ(cycles, 100);
    EXPECT_EQ(answered, 100);
    EXPECT_EQ(stats["sent"].toInt(), 100);
    EXPECT_EQ(stats["answered"].toInt(), 100);
    EXPECT_EQ(sim.stats().requests, 100);
}

// Ctrl+C ends a poll between rows: the CSV file holds whole rows only.
TEST(Cli, InterruptLeavesACompleteCsv)
{
    SimProcess sim({"--fixed"});
    QTemporaryDir dir;
    const QString csv = dir.filePath("poll.csv");
    QProcess p;
    p.start(KC_CLI_PATH, {"--port", sim.ptyPath(), "poll", "--period", "50", "--csv", csv});
    for (int i = 0; i < 200 && sim.stats().requests < 5; ++i)
        QThread::msleep(20);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(file.readAll()).split('\n');
    EXPECT_EQ(rows.last(), QString()); // the file ends with a whole row
    EXPECT_GE(rows.size(), 6);
    for (int i = 0; i + 1 < rows.size(); ++i)
        EXPECT_EQ(rows[i].count(','), 18) << rows[i].toStdString();
}
