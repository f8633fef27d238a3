#include "line/LineEngine.h"
#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "line/Recorder.h"
#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "support/FakeLink.h"
#include "support/Frames.h"
#include "support/QtPrint.h"
#include "ui/MonitorWindow.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kc;

namespace {

// Fifteen registers of station 1: 25.34 ℃, 65.20 %RH, alarm 0, limits 50.00 /
// -10.00 ℃ and 90.00 / 10.00 %RH (the window tests' worked example).
const QByteArray station1Reply =
    QByteArray::fromHex("01 03 1E 09 E6 19 78 00 00 FF 9B 00 00 13 88 FC 17 23 28 03 E8 00 01 00 "
                        "02 00 05 25 80 00 01 00 02 04 10");

// The monitor on fake links whose modules answer at once (10 ms) unless
// silent; the clock moves only when the test says, and timers are fired by hand.
struct Rig
{
    double now = 0;
    FakeLinks links;
    PortClaims claims{links.factory()};
    QSet<int> silent;
    Monitor monitor{&claims};
    QStringList turns; // station of each register read or unanswered request, in order

    Rig()
    {
        links.present = {"COM1", "/dev/ttyX"};
        claims.setClock([this] { return now; });
        monitor.setTimeout(100);
        monitor.setClocks([this] { return now; },
                          [this] {
                              return QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9),
                                               Qt::OffsetFromUTC, 8 * 3600)
                                  .addMSecs(qint64(now));
                          });
    }
    void fire(const QString &port, const char *timer)
    {
        QObject *owner = QString::fromLatin1(timer).startsWith("engine")
                             ? static_cast<QObject *>(monitor.poller(port)->engine())
                             : monitor.poller(port);
        QMetaObject::invokeMethod(owner->findChild<QObject *>(timer), "timeout",
                                  Qt::DirectConnection);
    }
    // Answers (or lets time out) the last request on port, then lets the line's silence pass.
    void step(const QString &port = QStringLiteral("COM1"))
    {
        FakeLink *link = links.last(port);
        const QByteArray frame = QByteArray::fromHex(link->written.last().toLatin1());
        const int station = std::uint8_t(frame[0]);
        const int function = std::uint8_t(frame[1]);
        if (silent.contains(station)) {
            turns << QString::number(station);
            now += 200;
            fire(port, "engineDeadline");
        } else if (function == 0x06) {
            now += 10;
            link->deliver(frame); // a write is answered with its own frame
        } else if (function == 0x26) {
            now += 10;
            link->deliver(withCrc(bytes({station, 0x26, 11, 'K', 'C', '4', '4', '2', '0', 'P', '-',
                                         '0', '0', '0' + station})));
        } else {
            turns << QString::number(station);
            now += 10;
            link->deliver(station == 1 ? station1Reply
                                       : readReply({2500, 6000, 0, 0, 0, 5000, 64535, 9000, 1000, 0,
                                                    0, 1, 9600, 1, 1},
                                                   station));
        }
        now += 5;
        fire(port, "engineWake");
    }
};

} // namespace

// Each module in turn, back to back. A module silent three times in a row is
// dead and tried only every dead-retry interval (500 ms here), so the others
// keep their pace: station 2 goes quiet at 715 ms, and the turns of 1 and 3
// (30 ms a round) fill the time until the round after 1215 ms.
TEST(Monitor, RoundRobinAndSlowedPollingOfADeadModule)
{
    Rig rig;
    rig.silent = {2};
    ASSERT_FALSE(rig.monitor.add("COM1", "1-3", 9600));
    rig.monitor.start();
    rig.monitor.poller("COM1")->setDeadRetryMs(500);
    while (rig.turns.size() < 9 + 32 + 3)
        rig.step();
    EXPECT_EQ(rig.turns.join(' ') + ' ',
              QString("1 2 3 1 2 3 1 2 3 ") + QString("1 3 ").repeated(16) + "1 2 3 ");
    const WatchedModule &dead = rig.monitor.module(1);
    EXPECT_TRUE(dead.dead);
    EXPECT_EQ(dead.noReply, 4);
    EXPECT_EQ(rig.monitor.module(0).answered, 20 + 1); // 20 reads and the device text
    EXPECT_EQ(rig.monitor.module(0).deviceText, "KC4420P-001");

    // It answers again: back in every round.
    rig.silent.clear();
    rig.turns.clear();
    rig.now += 500;
    while (rig.turns.size() < 3 * 4)
        rig.step();
    EXPECT_EQ(rig.turns.join(' '), "1 2 3 1 2 3 1 2 3 1 2 3");
    EXPECT_FALSE(rig.monitor.module(1).dead);
}

// Another's requests go between the turns, at their own rate, at once while
// the poller waits for its next round (a cycle period's start); their outcomes
// go to their callers and never count as a module's poll. A lost line answers
// those waiting with nothing. Ports poll at once, each on its own link.
TEST(Monitor, InterjectedRequestsGoBetweenTurns)
{
    Rig rig;
    rig.monitor.setCyclePeriod("com1", 1000);
    ASSERT_FALSE(rig.monitor.add("COM1", "1,2", 9600));
    ASSERT_FALSE(rig.monitor.add("/dev/ttyX", "3", 9600));
    rig.monitor.start();
    EXPECT_EQ(rig.links.last("/dev/ttyX")->written.size(), 1);
    PortPoller *poller = rig.monitor.poller("COM1");
    FakeLink *link = rig.links.last("COM1");
    QList<std::optional<Outcome>> got;
    const auto keep = [&got](const std::optional<Outcome> &o) { got << o; };

    ASSERT_TRUE(poller->interject(Request::registerWrite(2, 5, 3000), keep, 19200));
    rig.step(); // station 1's device text: its turn goes on to its values
    EXPECT_EQ(link->written.last(), "01 03 00 00 00 0F 05 CE");
    rig.step();
    EXPECT_EQ(link->written.last(), "02 06 0A 04 0B B8 CC A2");
    EXPECT_EQ(link->baud(), 19200);
    rig.step();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0]->kind, OutcomeKind::Answered);
    EXPECT_EQ(link->baud(), 9600); // station 2's turn, at the line's rate
    EXPECT_EQ(rig.monitor.module(1).answered, 0);
    rig.step();
    rig.step(); // the round is over; the next starts at 1000 ms
    const qsizetype sent = link->written.size();
    ASSERT_TRUE(poller->interject(Request::registerRead(1, 0, 2), keep));
    EXPECT_EQ(link->written.size(), sent + 1);
    rig.step();
    EXPECT_EQ(link->written.size(), sent + 1);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(rig.monitor.module(0).answered, 2);
    rig.now = 999;
    rig.fire("COM1", "pollerWake");
    EXPECT_EQ(link->written.size(), sent + 1);
    rig.now = 1000;
    rig.fire("COM1", "pollerWake");
    EXPECT_EQ(link->written.last(), "01 03 00 00 00 0F 05 CE");

    ASSERT_TRUE(poller->interject(Request::registerRead(1, 0, 2), keep));
    ASSERT_TRUE(poller->interject(Request::registerRead(2, 0, 2), keep));
    link->loseLine();
    ASSERT_EQ(got.size(), 4);
    EXPECT_FALSE(got[2] || got[3]);
    EXPECT_FALSE(poller->interject(Request::registerRead(1, 0, 2), keep));
}

// Polling back to back, others' requests take turns with the modules, one
// between two polls however many wait; a step its answer asks for goes at once.
TEST(Monitor, InterjectionsTakeTurnsWithThePolls)
{
    Rig rig;
    ASSERT_FALSE(rig.monitor.add("COM1", "1,2", 9600));
    rig.monitor.start();
    PortPoller *poller = rig.monitor.poller("COM1");
    FakeLink *link = rig.links.last("COM1");
    for (int i = 0; i < 4; ++i)
        rig.step(); // both device texts and values; station 1's values are asked again
    const qsizetype before = link->written.size();
    bool followed = false;
    poller->interject(Request::registerRead(7, 0, 1), [&](const std::optional<Outcome> &) {
        followed = poller->interject(Request::registerRead(8, 0, 1), [](const auto &) {});
    });
    poller->interject(Request::registerRead(9, 0, 1), [](const auto &) {});
    for (int i = 0; i < 5; ++i)
        rig.step();
    QStringList stations;
    for (qsizetype i = before; i < link->written.size(); ++i)
        stations << QString::number(link->written[i].left(2).toInt(nullptr, 16));
    EXPECT_TRUE(followed);
    EXPECT_EQ(stations.join(' ').toStdString(), "7 8 2 9 1");
}

// The data log of a known run: a module answering, one silent, then the
// adapter pulled. Texts and numbers as a spreadsheet reads them.
TEST(Monitor, DataLogRowsOfAKnownRun)
{
    QTemporaryDir dir;
    DataLog log;
    TrendStore trend;
    Recorder recorder(&trend, &log);
    log.setFolder(dir.path());
    log.setEnabled(true);
    Rig rig;
    recorder.setClock([&rig] {
        return QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9), Qt::OffsetFromUTC, 8 * 3600)
            .addMSecs(qint64(rig.now));
    });
    rig.silent = {2};
    rig.monitor.setRecorder(&recorder);
    ASSERT_FALSE(rig.monitor.add("COM1", "1,2", 9600));
    rig.monitor.start();
    for (int i = 0; i < 3; ++i)
        rig.step();
    EXPECT_EQ(
        rowTexts(rig.monitor.module(0)).join('|'),
        "COM1|1|9600|KC4420P-001|25.34|65.20|正常|应答正常 10.0 ms|10.0|2|0|0|12-06 21:05:09");
    rig.links.last("COM1")->loseLine();
    EXPECT_EQ(rowTexts(rig.monitor.module(1)).join('|'), "COM1|2|9600|||||线路断开||0|1|0|");
    EXPECT_EQ(rowTone(rig.monitor.module(1)), RowTone::Dead);
    QFile file(dir.filePath("kc4420-2026-12-06.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    EXPECT_TRUE(all.startsWith("\xEF\xBB\xBF")); // UTF-8, for spreadsheets
    EXPECT_EQ(trend.source(TrendStore::sourceKey("COM1", 1))->temperature.size(), 1);
    EXPECT_EQ(QString::fromUtf8(all.mid(3)),
              "time,port,station,temperature_C,humidity_RH,alarm,outcome,response_ms\n"
              "2026-12-06T21:05:09.025+08:00,COM1,1,25.34,65.20,正常,应答正常 10.0 ms,10.0\n"
              "2026-12-06T21:05:09.230+08:00,COM1,2,,,,无应答 (超时 100 ms),\n"
              "2026-12-06T21:05:09.235+08:00,COM1,1,,,,线路断开,\n"
              "2026-12-06T21:05:09.235+08:00,COM1,2,,,,线路断开,\n");
}

// A port is one port under each of its names: a second holder is refused
// until the first releases it. The main window yielding its port to a tool:
// the window tests.
TEST(PortClaims, OneHolderPerDevice)
{
    QTemporaryDir dir;
    const QString device = dir.filePath("ttyFake");
    QFile(device).open(QIODevice::WriteOnly);
    QFile::link(device, dir.filePath("by-id-alias"));
    qputenv("KC4420_COM7", dir.filePath("by-id-alias").toUtf8());
    FakeLinks links;
    PortClaims claims(links.factory());
    QObject owner;
    LineEngine *monitor = claims.claim(" com7 ", Holder::Monitor, &owner);
    ASSERT_TRUE(monitor);
    EXPECT_EQ(claims.holderOf(device), Holder::Monitor);
    EXPECT_FALSE(claims.claim(device, Holder::BusScan, &owner));
    EXPECT_FALSE(claims.holderOf("COM8"));
    claims.release(monitor);
    EXPECT_FALSE(claims.holderOf("COM7"));
    qunsetenv("KC4420_COM7");
}

// A network address is one port however it is spelt; a mistyped one is refused.
TEST(Monitor, NetworkAddressesAsPorts)
{
    Monitor monitor(nullptr);
    EXPECT_FALSE(monitor.add("TCP://Gw:4001/", "1", 9600));
    EXPECT_EQ(monitor.add("tcp://gw:4001", "1", 9600)->text, msg::moduleListed);
    EXPECT_EQ(monitor.add("tcp://gw", "2", 9600)->text, msg::badNetworkPort);
}

// Amber outside the module's own limits (the limits themselves inside), red
// for a dead module whatever its readings.
TEST(Monitor, RowTones)
{
    const AlarmLimits limits{5000, -1000, 9000, 1000}; // 50.00 / -10.00 ℃, 90.00 / 10.00 %RH
    // Temperature and humidity in hundredths, whether dead, and the tone.
    const std::tuple<int, int, bool, RowTone> cases[] = {
        {5000, 9000, false, RowTone::Normal}, {-1000, 1000, false, RowTone::Normal},
        {5001, 5000, false, RowTone::Alarm},  {-1001, 5000, false, RowTone::Alarm},
        {2000, 9001, false, RowTone::Alarm},  {2000, 999, false, RowTone::Alarm},
        {2000, 5000, true, RowTone::Dead},
    };
    for (const auto &[temperature, humidity, dead, tone] : cases) {
        WatchedModule m;
        m.reading = Reading{temperature, humidity, 0, std::nullopt};
        m.limits = limits;
        m.dead = dead;
        EXPECT_EQ(rowTone(m), tone) << temperature << " " << humidity;
    }
    WatchedModule unknownLimits;
    unknownLimits.reading = Reading{99900, 0, 0, std::nullopt};
    EXPECT_EQ(rowTone(unknownLimits), RowTone::Normal);
}
