// kc4420-cli as a script runs it, against the simulated module on a pseudo-terminal.

#include "ModbusTcpServer.h"
#include "SimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace {

struct CliResult
{
    int status = -1;
    QString out, err;
};

CliResult cli(const QString &port, QStringList args)
{
    QProcess p;
    p.start(QStringLiteral(KC_CLI_PATH), QStringList{"--port", port} + args);
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
        QString out; // a piece of standard output, or of standard error for status 2 or 6
        long long requests;
        QString never = "\x01"; // what must not be printed
    };
    const QStringList scan =
        QString("scan --bauds 9600 --stations 1-10 --probe-timeout 30").split(' ');
    const QStringList twoWin{"--stations", "4,9", "--collisions", "first"};
    const QString twoRows =
        R"(@{"kind":"template","rows":[{"row":5,"text":"35"},{"row":6,"text":"5"}]})";
    const QString badRow =
        R"(@{"kind":"template","rows":[{"row":5,"text":"1"},{"row":3,"text":"10.5"}]})";
    const QString calibration = "你输入的值有误，正确的值范围为-10到10!";
    const QString lowLimit = "6 6 温度报警下限: -10.00 -> 5.00  ";
    const Case cases[] = {
        // A failed reply prints its outcome and no value decoded from its bytes.
        {{"--flip-every", "1", "--seed", "1"}, {"read"}, 5, "校验错误", 1, "25.34"},
        {{"--flip-every", "2", "--seed", "1"},
         {"--json", "write", "5=30"},
         5,
         "\"outcome\":\"answered\"",
         2,
         "match"},
        // A read from a start asks the registers from there to the last row.
        {{}, {"poll", "--start", "3", "--period", "0", "--cycles", "1"}, 0, "应答正常", 1},
        // The baud-rate row follows the module to its new rate for the read-back.
        // Station 0 is a broadcast nothing answers: refused where an answer is needed.
        {{}, {"--station", "0", "read"}, 2, "站号 0 是广播地址", 0},
        {{}, {"--station", "0", "snapshot", "/tmp/kc4420-never.json"}, 2, "站号 0 是广播地址", 0},
        // A port that will not open is named with its reason.
        {{}, {"--port", "/no/such/tty", "read"}, 6, "/no/such/tty：没有这个设备", 0},
        // A file that takes no more rows stops the command.
        {{}, {"poll", "--period", "50", "--csv", "/dev/full"}, 7, "", 0},
        {{"--upload-ms", "50"}, {"uploads", "--csv", "/dev/full"}, 7, "", 0},
        {{}, {"--json", "info"}, 0, "\"device\":\"KC4420P-V12\"", 1},
        {{}, {"address"}, 0, "地址 1", 1},
        {{}, {"set-address", "9"}, 0, "站 9 确认：应答正常", 2},
        {{}, {"write", "3=10.5"}, 2, calibration, 0},
        // A refused argument names its option and its real range.
        {{}, {"--station", "300", "info"}, 2, "--station 300：站号应为 0-255", 0},
        {{}, {"--baud", "1200", "read"}, 2, "--baud 1200：波特率应为 2400、4800", 0},
        {{}, {"poll", "--period", "49"}, 2, "--period 49：周期应为 0（连续）或 50-60000 毫秒", 0},
        {{}, {"poll"}, 2, "poll 需要 --period", 0},
        {{}, {"frob"}, 2, "可用命令：ports, read", 0},
        {{},
         {"--station", "9", "--timeout", "50", "read"},
         3,
         "无应答 (超时 50 ms)；提示：检查串口",
         1},
        {{"--refuse-writes", "3"}, {"--json", "write", "5=1"}, 4, "\"exception\":3", 1},
        {{"--answer-as", "7"}, {"read"}, 5, "应答来自站 7", 1},
        {{"--ignore-writes"}, {"write", "5=1"}, 5, "不一致", 2},
        // An adapter that echoes: recognised when it comes, expected even
        // before a write, or judged as the reply.
        {{"--echo"}, {"read", "--count", "2"}, 0, "应答正常", 1},
        {{"--echo"}, {"--echo", "on", "write", "5=30"}, 0, "回读 30.00 一致", 2},
        // Judged at once, the echo may end the run before the module counts the request.
        {{"--echo"}, {"--echo", "off", "read", "--count", "2"}, 5, "校验错误", -1},
        {{}, {"--echo", "maybe", "read"}, 2, "你输入的回显设置有误", 0},
        // Two modules whose answers to the station-250 read do not garble: the
        // nearer one wins cleanly. The full pass still finds the other, unless the
        // operator says the line holds one module.
        {twoWin, scan, 0, "找到 2 个模块", -1},
        // Only the rates asked for, though the module answers at every one.
        {{}, {"scan", "--bauds", "4800", "--stations", "1"}, 0, "站 1  4800 波特", -1},
        {twoWin, scan + QStringList{"--single"}, 0, "找到 1 个模块", -1, "站 9"},
        // Modules at two rates: the one alone at 19200 is found, and listed first,
        // by the quick pass although its station lies outside the range; the three
        // at 9600 garble the station-250 read, so the full pass finds them, one by
        // its bad checksum; the silent one and the empty rate give nothing.
        {{"--stations", "3,5,7,9,200", "--baud", "9600", "--station-baud", "200=19200",
          "--bad-crc-station", "5", "--silent-station", "9"},
         {"scan", "--bauds", "19200,2400,9600", "--stations", "1-10", "--probe-timeout", "50"},
         0,
         "找到 3 个模块",
         -1,
         "\n站 200"},
        // A template refused sends nothing; a module that refuses or ignores a
        // write fails its row and the next row is still tried.
        {{}, {"apply", badRow}, 2, "第 3 行（3 温度误差校准）：" + calibration, 0},
        {{}, {"apply", "/no/such/t.json"}, 2, "无法读取文件：", 0},
        {{"--ignore-writes"}, {"apply", twoRows}, 5, lowLimit + "回读 -10.00 不一致", 5},
        {{"--refuse-writes", "3"},
         {"apply", twoRows},
         4,
         lowLimit + "写入失败：模块拒绝：非法数据值 (03)",
         3},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        SimProcess sim(QStringList{"--fixed"} + c.sim);
        ASSERT_TRUE(sim.ready());
        // "@text": a file holding the text, named in its place.
        QStringList argv = c.args;
        if (argv.last().startsWith('@')) {
            QFile file(dir.filePath("t.json"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(argv.last().mid(1).toUtf8());
            argv.last() = file.fileName();
        }
        const CliResult r = cli(sim.ptyPath(), argv);
        const QString args = c.args.join(' ');
        EXPECT_EQ(r.status, c.status) << args.toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE((c.status == 2 || c.status == 6 ? r.err : r.out).contains(c.out))
            << args.toStdString() << "\n"
            << r.out.toStdString() << r.err.toStdString();
        EXPECT_FALSE(r.out.contains(c.never)) << args.toStdString();
        if (c.requests >= 0) {
            EXPECT_EQ(sim.stats().requests, c.requests) << args.toStdString();
        }
    }
}

// Ctrl+C ends a poll between rows: every row polled is printed and in the CSV
// file, whole, and the totals add up with them.
TEST(Cli, InterruptedPollKeepsEveryRowAndItsTotals)
{
    SimProcess sim({"--fixed"});
    QTemporaryDir dir;
    const QString csv = dir.filePath("poll.csv");
    QProcess p;
    p.start(KC_CLI_PATH,
            {"--port", sim.ptyPath(), "--json", "--stats", "poll", "--period", "50", "--csv", csv});
    for (int i = 0; i < 200 && sim.stats().requests < 5; ++i)
        QThread::msleep(20);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const long long polled = sim.stats().requests;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(out.count("\"outcome\":\"answered\""), polled);
    EXPECT_TRUE(
        out.contains(QRegularExpression(QString("\"answered\":%1,.*\"sent\":%1,").arg(polled))))
        << out.right(300).toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(file.readAll()).split('\n');
    EXPECT_EQ(rows.last(), QString());  // the file ends with a whole row
    EXPECT_EQ(rows.size(), polled + 2); // and begins with the header
    for (int i = 0; i + 1 < rows.size(); ++i)
        EXPECT_EQ(rows[i].count(','), 18) << rows[i].toStdString();
}

// A template from one module applied to another with other values, the
// baud-rate row last and confirmed at the new rate.
TEST(Cli, SnapshotTemplateApplyRoundTrip)
{
    QTemporaryDir dir;
    const QString t = dir.filePath("t.json");
    SimProcess from({"--fixed", "--set", "5=3500", "--set", "6=500", "--set", "12=19200"});
    ASSERT_EQ(cli(from.ptyPath(), {"snapshot", "--template", "5-6,12", t}).status, 0);
    SimProcess to({"--fixed", "--baud", "9600"});
    const CliResult applied = cli(to.ptyPath(), {"apply", t});
    EXPECT_EQ(applied.status, 0) << applied.err.toStdString();
    EXPECT_EQ(applied.out.toStdString(), "5 5 温度报警上限: 50.00 -> 35.00  回读 35.00 一致\n"
                                         "6 6 温度报警下限: -10.00 -> 5.00  回读 5.00 一致\n"
                                         "12 12波特率: 9600 -> 19200  回读 19200 一致\n");
    EXPECT_EQ(to.registers()[12], 19200);
}

// Network lines: RTU bytes through the simulated module's TCP port, Modbus TCP
// to a libmodbus server (its unit id the station); a scan there at the one
// rate it has; an address nobody listens at, and one mistyped.
TEST(Cli, NetworkLines)
{
    SimProcess sim({"--fixed", "--tcp", "0"});
    ModbusTcpServer server({2534, 6520, 0, 0, 0, 5000});
    const QString rtu = QStringLiteral("tcp://127.0.0.1:%1").arg(sim.tcpPort());
    const QString modbusTcp = QStringLiteral("modbus-tcp://localhost:%1").arg(server.port());
    const struct
    {
        QString port;
        QStringList args;
        int status;
        const char *out, *err;
    } cases[] = {
        // Columns by display width; the caption carries the row's number.
        {rtu, {"read", "--count", "2"}, 0, "\n1 湿度值      65.20   6520\n", ""},
        {rtu, {"write", "5=30.5"}, 0, "回读 30.50 一致", ""},
        {modbusTcp, {"read", "--count", "2"}, 0, "1 湿度值      65.20   6520", ""},
        {modbusTcp, {"write", "5=30.5"}, 0, "回读 30.50 一致", ""},
        {rtu, {"scan", "--bauds", "2400", "--stations", "1-2"}, 0, "站 1  9600 波特", "网络线路"},
        {"tcp://127.0.0.1:1", {"read"}, 6, "", "连接被拒绝：tcp://127.0.0.1:1"},
        {"modbus-tcp://host", {"read"}, 2, "", "你输入的网络地址有误"},
    };
    for (const auto &c : cases) {
        const CliResult r = cli(c.port, c.args);
        const std::string what =
            (c.port + ' ' + c.args.join(' ') + '\n' + r.out + r.err).toStdString();
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.out))) << what;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.err))) << what;
    }
    EXPECT_EQ(server.word(0x0A04), 3050);
}

// Each fault of the line named by the diagnosis from the simulated line that
// has it, with its exit status; a clean line is clean.
TEST(Cli, DiagnoseNamesEachFault)
{
    struct Case
    {
        QStringList sim, args;
        const char *findings; // worst first
        int status;
    };
    // Timeouts long enough that a loaded machine's answers never look slow,
    // short where every probe waits its deadline out.
    const QStringList roomy{"--timeout", "500", "diagnose"}, brief{"--timeout", "100", "diagnose"};
    const Case cases[] = {
        {{}, roomy, "clean", 0},
        {{"--echo"}, roomy, "echo", 10},
        {{"--stray-before", "FF:2"}, roomy, "stray_bytes", 11},
        {{"--cut-replies", "2"}, brief, "cut_or_late", 12},
        {{"--crc-burst", "4:2", "--seed", "1"}, roomy, "checksum_bursts", 13},
        {{"--baud", "19200", "--wrong-rate-garbage", "--seed", "3"},
         roomy + QStringList{"--all-rates"},
         "one_rate",
         14},
        {{"--twin", "1"}, roomy, "collisions collisions", 15},
        {{"--silent"}, brief, "silence", 16},
    };
    for (const Case &c : cases) {
        SimProcess sim(QStringList{"--fixed"} + c.sim);
        const CliResult r = cli(sim.ptyPath(), QStringList{"--json"} + c.args);
        const QJsonObject report = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QStringList findings;
        for (const QJsonValue &f : report["findings"].toArray())
            findings << f["finding"].toString();
        const std::string name = c.sim.join(' ').toStdString();
        EXPECT_EQ(findings.join(' ').toStdString(), c.findings) << name << r.out.toStdString();
        EXPECT_EQ(r.status, c.status) << name;
        EXPECT_EQ(report["status"].toInt(), c.status) << name;
    }
}

// Another master polls two modules; the CLI only listens. Every exchange is
// decoded, the totals add up, and not one byte reaches the line from it.
TEST(Cli, ListenDecodesAnotherMaster)
{
    SimProcess sim({"--fixed", "--stations", "1,2", "--master-poll", "20"});
    QProcess p;
    p.start(KC_CLI_PATH, {"--port", sim.ptyPath(), "--json", "listen"});
    ASSERT_TRUE(p.waitForStarted());
    for (int i = 0; i < 300 && sim.stats().masterRequests < 40; ++i)
        QThread::msleep(20);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const SimProcess::Stats heard = sim.stats();
    EXPECT_EQ(heard.rxBytes, 0);

    long long pairs = 0, answered = 0, requests = 0, answers = 0, noAnswer = 0;
    QJsonObject rest;
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    const auto lastPair = std::find_if(
        lines.rbegin(), lines.rend(), [](const QByteArray &l) { return l.contains("\"reply\":"); });
    for (const QByteArray &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.contains("reply")) {
            ++pairs;
            const bool answer = o["outcome"] == "answered";
            answered += answer;
            // The stop may fall between the last request and its reply's end.
            const bool cutByTheStop = lastPair != lines.rend() && &line == &*lastPair && !answer;
            // Reads of the modules decoded through the register map, the
            // rewrite of row 5 named, the station nobody has unanswered.
            if (cutByTheStop)
                EXPECT_TRUE(o["outcome"] == "no_reply" || o["outcome"] == "incomplete");
            else if (o["function"] == 3 && o["station"].toInt() <= 2)
                EXPECT_TRUE(answer && o["registers"].toArray().size() >= 2) << line.data();
            else if (o["function"] == 6)
                EXPECT_TRUE(answer && o["asked"].toString().startsWith("写 5 ")) << line.data();
            else
                EXPECT_EQ(o["outcome"], "no_reply") << line.data();
        } else if (o.contains("listen_station")) {
            requests += o["requests"].toInt();
            answers += o["answered"].toInt();
            noAnswer += o["no_answer"].toInt();
            EXPECT_EQ(o["requests"].toInt(), o["answered"].toInt() + o["no_answer"].toInt() +
                                                 o["exceptions"].toInt() +
                                                 o["bad_checksum"].toInt() + o["other"].toInt());
        } else if (o.contains("noise_bytes")) {
            rest = o;
        }
    }
    EXPECT_EQ(requests, pairs);
    EXPECT_EQ(answers, answered);
    EXPECT_GT(noAnswer, 0);
    // The listener may stop between a request and its reply, or before it
    // has read the last request the simulator wrote.
    EXPECT_GE(requests, heard.masterRequests - 1);
    EXPECT_LE(requests, heard.masterRequests);
    EXPECT_GE(answers, heard.masterReplies - 1);
    EXPECT_EQ(rest["unpaired_replies"].toInt(), 0);
    EXPECT_EQ(rest["noise_bytes"].toInt(), 0);
}
