#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QByteArray writeFrame(int station, int row, std::uint16_t word)
{
    const int address = 0x0A00 + 2 * (row - 3);
    QByteArray body;
    body.append(char(station)).append(char(0x06));
    body.append(char(address >> 8)).append(char(address & 0xFF));
    body.append(char(word >> 8)).append(char(word & 0xFF));
    return withCrc(body);
}

TEST(Writes, EveryWritableRowIsStoredAndReadBack)
{
    struct Case
    {
        int row;
        const char *typed;
        std::uint16_t word; // what the module must store
        const char *shown;  // what a read shows afterwards
    };
    // Negative values are stored as 65535 + value. Rows 9 to 14 show their word as
    // an unsigned whole number, so -20 on row 9 comes back as the word it was stored as.
    const Case cases[] = {
        {3, "-1.5", 65385, "-1.50"},   {4, "2.25", 225, "2.25"},   {5, "45", 4500, "45.00"},
        {6, "-5", 65035, "-5.00"},     {7, "85.5", 8550, "85.50"}, {8, "-0.01", 65534, "-0.01"},
        {9, "-20", 65515, "65515"},    {10, "3", 3, "3"},          {11, "30", 30, "30"},
        {12, "19200", 19200, "19200"}, {13, "2", 2, "2"},          {14, "2", 2, "2"},
    };
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());

    for (const Case &c : cases) {
        const int before = w.receiveEvents;
        w.type(QStringLiteral("txtValue_%1").arg(c.row), c.typed);
        w.click(QStringLiteral("cmdSet_%1").arg(c.row - 3));
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == before + 1; })) << c.typed;
        const QByteArray frame = writeFrame(1, c.row, c.word);
        EXPECT_EQ(w.text("txtCommand"), sentText(frame)) << c.typed;
        EXPECT_EQ(w.text("txtState"), receivedText(frame)) << "the module's echo";
    }
    std::vector<std::uint16_t> stored = simRegisters(sim);
    ASSERT_EQ(stored.size(), 15u);
    for (const Case &c : cases)
        EXPECT_EQ(stored[std::size_t(c.row)], c.word) << "row " << c.row;

    // Empty boxes, so every text below comes from the read.
    for (int i = 0; i < 15; ++i)
        w.type(QStringLiteral("txtValue_%1").arg(i), QString());
    const int before = w.receiveEvents;
    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == before + 1; }));
    for (const Case &c : cases)
        EXPECT_EQ(w.text(QStringLiteral("txtValue_%1").arg(c.row)), c.shown) << "row " << c.row;

    // Writing back what was read leaves every word as it was.
    for (const Case &c : cases) {
        const int events = w.receiveEvents;
        w.click(QStringLiteral("cmdSet_%1").arg(c.row - 3));
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == events + 1; })) << c.shown;
    }
    EXPECT_EQ(simRegisters(sim), stored);
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 2 * long(std::size(cases)) + 1);
    EXPECT_EQ(stats.ignored, 0);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

TEST(Address, ReadThenChangeThenReadAtTheNewAddress)
{
    SimProcess sim({"--fixed", "--address", "7"});
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    ASSERT_EQ(w.text("txtStationID"), "1");

    w.click("cmdReadAdd");
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("FA0300000001"))));
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 1; }));
    EXPECT_EQ(w.text("txtSetID_0"), "7");
    EXPECT_EQ(w.text("txtStationID"), "7");

    w.type("txtSetID_0", "7");
    w.type("txtSetID_1", "42");
    w.click("cmdChangeID");
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("07060B00002A"))));
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 2; }));
    EXPECT_EQ(w.text("txtSetID_0"), "42");
    EXPECT_EQ(w.text("txtStationID"), "42");

    w.click("comDoOnce");
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("2A030000000F"))));
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 3; }));
    EXPECT_EQ(w.text("txtValue_0"), "25.34");
    EXPECT_EQ(w.text("txtValue_1"), "65.20");
    EXPECT_TRUE(w.text("txtState").startsWith(" 2A 03 1E")) << w.text("txtState").toStdString();
    EXPECT_EQ(w.lamp(), "imgConnected");

    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 3);
    EXPECT_EQ(stats.replies, 3);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

TEST(DeviceInfo, ShowsTheModelTextOfElevenCharacters)
{
    struct Case
    {
        const char *model;
        const char *shown;
    };
    // A shorter model text is padded with blanks by the module.
    const Case cases[] = {{"KC4420P-E2E", "KC4420P-E2E"}, {"KB7", "KB7        "}};
    for (const Case &c : cases) {
        SimProcess sim({"--fixed", "--model", c.model});
        ASSERT_TRUE(sim.ready());
        LiveWindow w(sim.ptyPath());
        ASSERT_TRUE(w.link->isOpen());
        w.click("Command2");
        EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("012600000005"))));
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 1; })) << c.model;
        EXPECT_EQ(w.text("TXTtype"), c.shown);
        EXPECT_EQ(w.lamp(), "imgConnected");
    }
}

TEST(Upload, OneLinePerRecordWithTheClockAndNegativeReadings)
{
    SimProcess sim({"--fixed", "--set", "0=2500", "--set", "1=5678", "--upload-ms", "100"});
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    const QDateTime base(QDate(2024, 2, 29), QTime(23, 59, 58));
    int stamps = 0;
    w.window()->setClock([&] { return base.addSecs(stamps++); });

    // The module drops records while nobody has the line open, so with the port
    // closed its count settles; every record after the reopen reaches the window.
    w.click("Command1");
    Probe probe;
    long long settled = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const long long first = sim.stats().uploads;
        probe.pumpFirings(30); // at least three record intervals
        if (sim.stats().uploads == first) {
            settled = first;
            break;
        }
    }
    ASSERT_GE(settled, 0) << "the module kept sending with the port closed";

    w.click("Command3");
    EXPECT_EQ(w.text("lblCounter"), "0");
    EXPECT_EQ(w.text("lblErrCounter"), "0");
    EXPECT_EQ(w.lamp(), "ImgYellow");
    w.click("cmdCom");
    ASSERT_TRUE(w.link->isOpen());
    const int eventsBefore = w.receiveEvents;

    auto lines = [&] { return w.text("txtUp").split(QLatin1Char('\n'), Qt::SkipEmptyParts); };
    const QString positive = QStringLiteral("25 56.8");
    const QString negative = QStringLiteral("-11.3 56.8");
    auto count = [&](const QString &reading) {
        int n = 0;
        for (const QString &line : lines())
            n += line.endsWith(QLatin1Char(' ') + reading) ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(pumpUntil([&] { return count(positive) >= 5; }, 20000));
    sim.command("set 0=64405");
    ASSERT_TRUE(pumpUntil([&] { return count(negative) >= 5; }, 20000));
    const int positivesBefore = count(positive);
    sim.command("set 0=2500");
    ASSERT_TRUE(pumpUntil([&] { return count(positive) >= positivesBefore + 3; }, 20000));
    // A new interval of an hour ends the records for this test.
    sim.command("set 11=3600");
    const long long records = sim.stats().uploads - settled;
    ASSERT_TRUE(pumpUntil([&] { return lines().size() >= records; }, 20000));
    probe.pumpFirings(30);

    const QStringList log = lines();
    ASSERT_EQ(log.size(), records);
    static const QRegularExpression layout(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) (.*)$"));
    QString phases;
    for (int k = 0; k < log.size(); ++k) {
        const auto match = layout.match(log[k]);
        ASSERT_TRUE(match.hasMatch()) << log[k].toStdString();
        EXPECT_EQ(match.captured(1), base.addSecs(k).toString("yyyy-MM-dd HH:mm:ss")) << k;
        const QString reading = match.captured(2);
        ASSERT_TRUE(reading == positive || reading == negative) << log[k].toStdString();
        const QChar phase = reading == positive ? QLatin1Char('P') : QLatin1Char('N');
        if (phases.isEmpty() || phases.back() != phase)
            phases += phase;
    }
    EXPECT_EQ(phases, "PNP");
    EXPECT_EQ(stamps, records);
    EXPECT_EQ(w.receiveEvents - eventsBefore, records);
    EXPECT_EQ(w.number("lblErrCounter"), records);
    EXPECT_EQ(w.text("lblCounter"), "0");
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
