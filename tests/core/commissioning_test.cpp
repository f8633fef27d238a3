// Scan ranges, snapshot and template files, what commissioning writes and
// reports, and the CSV files' rules.

#include "operations/Commissioning.h"
#include "operations/Csv.h"
#include "operations/Scan.h"
#include "support/FileSizeCap.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kc;

namespace {

std::string scanOf(const QString &bauds, const QString &stations, const QString &timeout)
{
    const auto r = planScan(bauds, stations, timeout);
    if (const auto *m = std::get_if<UserMessage>(&r))
        return m->text.toStdString();
    const ScanRange &s = std::get<ScanRange>(r);
    QStringList rates;
    for (int b : s.bauds)
        rates << QString::number(b);
    return QStringLiteral("%1 %2:%3-%4 %5")
        .arg(rates.join(','))
        .arg(s.stations.size())
        .arg(s.stations.first())
        .arg(s.stations.last())
        .arg(s.probeTimeoutMs)
        .toStdString();
}

std::string templateOf(const char *json)
{
    const auto t = parseTemplate(QByteArray(json));
    if (const auto *m = std::get_if<UserMessage>(&t))
        return m->text.toStdString();
    QStringList rows;
    for (const TemplateRow &r : std::get<Template>(t).rows)
        rows << QStringLiteral("%1=%2").arg(r.row).arg(r.word);
    return rows.join(' ').toStdString();
}

} // namespace

// The station list's own rules are NumberList's; here its bounds and message.
TEST(ScanRange, TextsAcceptedAndRefused)
{
    const char *bauds = "你选择的波特率有误，应为2400,4800,9600,19200,38400中的一个或几个!";
    const char *stations = "你输入的站号范围有误，应为1-247的站号，如 1-247 或 1-40,200!";
    const char *timeout = "你输入的探测超时有误，应该为数字，值范围为20-10000!";
    const char *cases[][4] = {
        {"9600,2400", "1-247", "100", "2400,9600 247:1-247 100"},
        {" 19200 ,19200", "200", "20", "19200 1:200-200 20"},
        {"38400", "1-40,200", "10000", "38400 41:1-200 10000"},
        {"1200", "1-247", "100", bauds},
        {"9600,", "1-247", "100", bauds},
        {"9600.5", "1-247", "100", bauds},
        {"9600", "1-248", "100", stations},
        {"9600", "", "100", stations},
        {"9600", "1-10", "19", timeout},
        {"9600", "1-10", "100.5", timeout},
    };
    for (const auto &[b, s, t, expected] : cases)
        EXPECT_EQ(scanOf(b, s, t), expected) << b << " " << s << " " << t;
}

// A snapshot carries every row as shown and raw; a template only the chosen
// writable rows, and reads back as the words to write.
TEST(SnapshotFile, SnapshotThenTemplate)
{
    RegisterWords words{2534, 6520, 0, 65485, 0, 5000, 64535, 9000, 1000, 1, 2, 5, 9600, 1, 1};
    const Snapshot s =
        snapshotOf(QDateTime(QDate(2026, 12, 7), QTime(9, 30), Qt::OffsetFromUTC, 8 * 3600), 9600,
                   7, "KC4420P-V12", words);
    const QJsonObject o = QJsonDocument::fromJson(snapshotJson(s)).object();
    EXPECT_EQ(o["kind"], "snapshot");
    EXPECT_EQ(o["time"], "2026-12-07T09:30:00.000+08:00");
    EXPECT_EQ(o["baud"], 9600);
    EXPECT_EQ(o["station"], 7);
    EXPECT_EQ(o["device"], "KC4420P-V12");
    const QJsonArray rows = o["rows"].toArray();
    ASSERT_EQ(rows.size(), 15);
    const char *shown[] = {"25.34", "65.20", "0", "-0.50", "0.00", "50.00", "-10.00", "90.00",
                           "10.00", "1",     "2", "5",     "9600", "1",     "1"};
    for (int k = 0; k < 15; ++k) {
        EXPECT_EQ(rows[k]["row"], k);
        EXPECT_EQ(rows[k]["text"], shown[k]) << k;
        EXPECT_EQ(rows[k]["raw"], words[k]) << k;
    }
    EXPECT_EQ(rows[3]["caption"], "3 温度误差校准");

    const QByteArray t = snapshotJson(kc::templateOf(s, {0, 3, 6, 12}));
    EXPECT_EQ(QJsonDocument::fromJson(t).object()["kind"], "template");
    EXPECT_EQ(::templateOf(t.constData()), "3=65485 6=64535 12=9600");
    EXPECT_EQ(rowList("12,5-8"), (QList<int>{5, 6, 7, 8, 12}));
    for (const char *bad : {"2-5", "12-15", "", "5,", "8-5", "x"})
        EXPECT_EQ(rowList(bad), std::nullopt) << bad;
}

// Every refusal names what is wrong, and a refused file yields no row to write.
TEST(TemplateFile, MalformedAndHostileFilesEachGetTheirMessage)
{
    const std::string snapshot = R"({"kind":"snapshot","rows":[)";
    const auto t = [](const std::string &rows) {
        return R"({"kind":"template","rows":[)" + rows + "]}";
    };
    const auto row5 = [&](const std::string &more) { return t(R"({"row":5,"text":"1")" + more); };
    // A snapshot's rows 0 to 13, each followed by a comma.
    std::string first14;
    for (int k = 0; k < 14; ++k)
        first14 +=
            R"({"row":)" + std::to_string(k) + R"(,"text":")" + (k == 12 ? "9600" : "1") + "\"},";
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen += R"({"row":1,"text":"1"},)";
    const char *notAFile = "文件格式有误，不是快照或模板文件!",
               *kind = "文件中的 kind 应为 snapshot 或 template!";
    const char *row1 = "rows 第 1 项：row 应为 3 到 14 的整数!";
    const char *text5 = "第 5 行（5 温度报警上限）：text 应为不超过 32 个字符的文本!";
    const char *raw5 = "第 5 行（5 温度报警上限）：raw 应为 0 到 65535 的整数!";
    const std::pair<std::string, const char *> cases[] = {
        {t(R"({"row":5,"text":"35"},{"row":12,"text":"19200","raw":19200})"), "5=3500 12=19200"},
        {snapshot + first14 + R"({"row":14,"text":"2"}]})",
         "3=100 4=100 5=100 6=100 7=100 8=100 9=1 10=1 11=1 12=9600 13=1 14=2"},
        {"", notAFile},
        {"[1,2]", notAFile},
        {R"({"kind":"template","rows":[)", notAFile},
        {"{" + std::string(70000, ' ') + row5("}").substr(1), "文件过大，不是快照或模板文件!"},
        {R"({"kind":"backup","rows":[]})", kind},
        {R"({"rows":[{"row":5,"text":"1"}]})", kind},
        {R"({"kind":"template","device":")" + std::string(65, 'K') +
             R"(","rows":[{"row":5,"text":"1"}]})",
         "文件中的 device 应为不超过 64 个字符的文本!"},
        {R"({"kind":"template","time":7,"rows":[]})", "文件中的 time 应为不超过 64 个字符的文本!"},
        {R"({"kind":"template","rows":{"row":5}})", "文件中的 rows 应为不超过 15 项的列表!"},
        {snapshot + sixteen.substr(0, sixteen.size() - 1) + "]}",
         "文件中的 rows 应为不超过 15 项的列表!"},
        {t(R"({"row":"5","text":"1"})"), row1},
        {row5(R"(},{"row":2,"text":"1"})"), "rows 第 2 项：row 应为 3 到 14 的整数!"},
        {snapshot + R"({"row":15,"text":"1"}]})", "rows 第 1 项：row 应为 0 到 14 的整数!"},
        {t(R"({"row":5.5,"text":"1"})"), row1},
        {t("7"), row1},
        {row5(R"(},{"row":5,"text":"2"})"), "第 5 行出现了两次!"},
        {t(R"({"row":5,"text":35})"), text5},
        {t(R"({"row":5,"text":")" + std::string(40, '9') + "\"}"), text5},
        {row5(R"(,"raw":"100"})"), raw5},
        {row5(R"(,"raw":65536})"), raw5},
        {row5(R"(,"caption":[]})"), "文件中的 caption 应为不超过 64 个字符的文本!"},
        {t(R"({"row":5,"text":"35.00","raw":3000})"),
         "第 5 行（5 温度报警上限）：值 35.00 与原始值 3000 不符!"},
        {row5(R"(},{"row":3,"text":"10.5"})"),
         "第 3 行（3 温度误差校准）：你输入的值有误，正确的值范围为-10到10!"},
        {t(R"({"row":12,"text":"1200"})"),
         "第 12 行（12波特率）：你输入的值有误，正确的值范围为2400,4800,9600,19200或38400!"},
        {t(R"({"row":11,"text":"1e3"})"),
         "第 11 行（11主动上传时间）：你输入的值有误，请输入0-9的数据，不能含字母！"},
        {snapshot + first14.substr(0, first14.size() - 1) + "]}",
         "快照中缺少第 14 行（14控制模式）!"},
        {t(""), "模板中没有要写入的行!"},
    };
    for (const auto &[json, expected] : cases)
        EXPECT_EQ(::templateOf(json.c_str()), expected) << json.substr(0, 120);
}

// Only differing rows are written, the baud-rate row last; the report names
// each written row with the module's and the template's value.
TEST(Commissioning, WriteOrderAndReportRows)
{
    const Template t{"", {{5, "35.00", 3500}, {7, "90", 9000}, {12, "19200", 19200}, {13, "2", 2}}};
    RegisterWords words{};
    words[5] = 5000;
    words[7] = 9000;
    words[12] = 9600;
    words[13] = 1;
    const QVector<RowDiff> diffs = differences(t, words);
    QStringList order;
    for (const RowDiff &d : writeOrder(diffs))
        order << QStringLiteral("%1:%2>%3").arg(d.row).arg(d.moduleText, d.templateText);
    EXPECT_EQ(order.join(' ').toStdString(), "5:50.00>35.00 13:1>2 12:9600>19200");

    ModuleReport r;
    r.time = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5), Qt::OffsetFromUTC, 8 * 3600);
    r.device = "KC,4420\"P";
    r.oldAddress = 1;
    r.newAddress = 10;
    for (const RowDiff &d : writeOrder(diffs))
        r.rows.push_back(RowWrite(d, d.row == 12 ? RowResult::Failed : RowResult::Confirmed));
    r.failure = ModuleFailure::RowsFailed;
    EXPECT_EQ(reportLine(r).toStdString(),
              "2026-12-07T09:30:05.000+08:00,\"KC,4420\"\"P\",1,10,fail,"
              "5:50.00>35.00:pass;13:1>2:pass;12:9600>19200:fail,有行写入失败");
    ModuleReport missing;
    missing.time = r.time;
    missing.failure = ModuleFailure::NoModule;
    EXPECT_EQ(reportLine(missing).toStdString(),
              "2026-12-07T09:30:05.000+08:00,,,,fail,,线路上没有找到模块!");
}

// The report starts with its header; a line the disk cannot take is left out
// entirely and the report closed, so the run stops. A line cut short by an
// earlier run is ended before the next: the data log's tests, whose files
// follow the same rules.
TEST(ReportFile, UnwritableLineLeftOutAndTheReportClosed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("report.csv");
    ModuleReport r;
    r.time = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5), Qt::OffsetFromUTC, 8 * 3600);
    r.failure = ModuleFailure::NoModule;
    ReportFile file;
    ASSERT_TRUE(file.open(path));
    ASSERT_TRUE(file.append(r));
    {
        const FileSizeCap cap(rlim_t(QFileInfo(path).size() + 10));
        EXPECT_FALSE(file.append(r));
    }
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.append(r));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toStdString(),
              "time,device,old_address,new_address,result,rows,note\n" +
                  reportLine(r).toStdString() + "\n");
}

TEST(Csv, FieldsASpreadsheetReadsBack)
{
    const char *cases[][2] = {
        {"COM1", "COM1"},
        {"", ""},
        {"应答正常，4.2 ms", "应答正常，4.2 ms"}, // a full-width comma is text
        {"a,b", "\"a,b\""},
        {"KC\"4420\"", "\"KC\"\"4420\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"a\rb", "\"a\rb\""},
        {" lead", "\" lead\""},
        {"trail\t", "\"trail\t\""},
    };
    for (const auto &[text, field] : cases)
        EXPECT_EQ(csvField(text), field) << text;
}
