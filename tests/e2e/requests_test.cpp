#include "e2e/E2eSupport.h"

#include <QDateTime>

#include <tuple>

#include <gtest/gtest.h>

namespace {

TEST(Writes, EveryWritableRowIsStoredAndReadBackUnchanged)
{
    // Row, typed text, the word the module must store, what a read shows afterwards.
    // Negative values are stored as 65535 + value. Rows 9 to 14 show their word as
    // an unsigned whole number, so -20 on row 9 comes back as the word it was stored as.
    const std::tuple<int, const char *, std::uint16_t, const char *> cases[] = {
        {3, "-1.5", 65385, "-1.50"},   {4, "2.25", 225, "2.25"},   {5, "45", 4500, "45.00"},
        {6, "-5", 65035, "-5.00"},     {7, "85.5", 8550, "85.50"}, {8, "-0.01", 65534, "-0.01"},
        {9, "-20", 65515, "65515"},    {10, "3", 3, "3"},          {11, "30", 30, "30"},
        {12, "19200", 19200, "19200"}, {13, "2", 2, "2"},          {14, "2", 2, "2"},
    };
    SimProcess sim({"--fixed"});
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());

    auto frame = [](int row, std::uint16_t word) {
        return writeFrame(1, 0x0A00 + 2 * (row - 3), word);
    };
    for (const auto &[row, typed, word, shown] : cases) {
        w.type(w.valueBox(row), typed);
        ASSERT_TRUE(w.request(w.setButton(row))) << typed;
        EXPECT_EQ(w.text("txtCommand"), sentText(frame(row, word))) << typed;
        EXPECT_EQ(w.text("txtState"), receivedText(frame(row, word))) << "the module's echo";
    }

    // Empty boxes, so every text below comes from the read.
    for (int i = 0; i < 15; ++i)
        w.type(w.valueBox(i), QString());
    ASSERT_TRUE(w.request("comDoOnce"));
    for (const auto &[row, typed, word, shown] : cases)
        EXPECT_EQ(w.text(w.valueBox(row)), shown) << "row " << row;
    // Writing back what was read sends every word as it was.
    for (const auto &[row, typed, word, shown] : cases) {
        ASSERT_TRUE(w.request(w.setButton(row))) << shown;
        EXPECT_EQ(w.text("txtCommand"), sentText(frame(row, word))) << shown;
    }
    EXPECT_EQ(sim.stats().requests, 2 * long(std::size(cases)) + 1);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

TEST(Address, ReadThenChangeThenReadAtTheNewAddress)
{
    SimProcess sim({"--fixed", "--address", "7"});
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    ASSERT_EQ(w.text("txtStationID"), "1");

    ASSERT_TRUE(w.request("cmdReadAdd"));
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("FA0300000001"))));
    EXPECT_EQ(w.text("txtSetID_0") + "/" + w.text("txtStationID"), "7/7");

    w.type("txtSetID_0", "7");
    w.type("txtSetID_1", "42");
    ASSERT_TRUE(w.request("cmdChangeID"));
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("07060B00002A"))));
    EXPECT_EQ(w.text("txtSetID_0") + "/" + w.text("txtStationID"), "42/42");

    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("2A030000000F"))));
    EXPECT_EQ(w.text(w.valueBox(0)) + "/" + w.text(w.valueBox(1)), "25.34/65.20");
    EXPECT_TRUE(w.text("txtState").startsWith(" 2A 03 1E")) << w.text("txtState").toStdString();
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(sim.stats().replies, 3);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

TEST(DeviceInfo, ShowsTheModelTextOfElevenCharacters)
{
    SimProcess sim({"--fixed", "--model", "KB7"});
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    ASSERT_TRUE(w.request("Command2"));
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("012600000005"))));
    // The module pads a shorter text with blanks; all eleven characters are shown.
    EXPECT_EQ(w.text("TXTtype"), "KB7        ");
    EXPECT_EQ(w.lamp(), "imgConnected");
}

TEST(Upload, OneLinePerRecordWithTheClockAndNegativeReadings)
{
    SimProcess sim({"--fixed", "--set", "0=2500", "--set", "1=5678", "--upload-ms", "100"});
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    const QDateTime base(QDate(2024, 2, 29), QTime(23, 59, 58));
    int stamps = 0;
    w.window()->setClock([&] { return base.addSecs(stamps++); });

    // The module drops records while nobody has the line open, so with the port
    // closed its count settles; every record after the reopen reaches the window.
    w.click("Command1");
    long long settled = -2;
    for (int attempt = 0; attempt < 10 && settled != sim.stats().uploads; ++attempt) {
        settled = sim.stats().uploads;
        pumpTicks(30); // at least three record intervals
    }
    ASSERT_EQ(settled, sim.stats().uploads) << "the module kept sending with the port closed";

    w.click("Command3");
    EXPECT_EQ(w.lamp(), "ImgYellow");
    w.click("cmdCom");
    ASSERT_TRUE(w.link->isOpen());

    auto lines = [&] { return w.text("txtUp").split(QLatin1Char('\n'), Qt::SkipEmptyParts); };
    const QString positive = QStringLiteral(" 25 56.8");
    const QString negative = QStringLiteral(" -11.3 56.8");
    auto count = [&](const QString &reading) { return lines().filter(reading).size(); };
    ASSERT_TRUE(pumpUntil([&] { return count(positive) >= 5; }, 20000));
    sim.command("set 0=64405");
    ASSERT_TRUE(pumpUntil([&] { return count(negative) >= 5; }, 20000));
    const auto positivesBefore = count(positive);
    sim.command("set 0=2500");
    ASSERT_TRUE(pumpUntil([&] { return count(positive) >= positivesBefore + 3; }, 20000));
    // A new interval of an hour ends the records for this test.
    sim.command("set 11=3600");
    const long long records = sim.stats().uploads - settled;
    ASSERT_TRUE(pumpUntil([&] { return lines().size() >= records; }, 20000));
    pumpTicks(30);

    const QStringList log = lines();
    ASSERT_EQ(log.size(), records);
    QString phases;
    for (int k = 0; k < log.size(); ++k) {
        const QString stamp = base.addSecs(k).toString("yyyy-MM-dd HH:mm:ss");
        const QString reading = log[k].mid(stamp.size());
        EXPECT_TRUE(log[k].startsWith(stamp)) << log[k].toStdString();
        ASSERT_TRUE(reading == positive || reading == negative) << log[k].toStdString();
        if (phases.isEmpty() || phases.back() != reading[1])
            phases += reading[1];
    }
    // Positive, negative, positive again: the sign follows each record.
    EXPECT_EQ(phases, "2-2");
    // Upload mode starts the counters at zero and counts each record.
    EXPECT_EQ(w.number("lblErrCounter"), records);
    EXPECT_EQ(w.text("lblCounter"), "0");
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
