#include "line/LineEngine.h"
#include "support/FakeSerialLink.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace kc;

namespace {

const QByteArray readFrame = QByteArray::fromHex("010300000002C40B");
const QByteArray readReply = QByteArray::fromHex("01030409E6FF38587A");

// An engine on the fake link with a clock the test moves; timers are fired by hand.
struct EngineHarness
{
    double now = 0;
    FakeSerialLink *link = new FakeSerialLink;
    LineEngine engine{link, [this] { return now; }};
    QList<Outcome> outcomes;

    EngineHarness()
    {
        QObject::connect(&engine, &LineEngine::finished,
                         [this](const Outcome &o, const RequestPlan &) { outcomes << o; });
        engine.setTimeout(100);
        link->setCommPort(1);
        EXPECT_TRUE(engine.open());
    }
    void fire(const char *timer)
    {
        QMetaObject::invokeMethod(engine.findChild<QTimer *>(QString::fromLatin1(timer)), "timeout",
                                  Qt::DirectConnection);
    }
    void submitRead() { engine.submit({readFrame, RequestKind::RegisterRead, 9, 0}); }
};

} // namespace

// The deadline is the timeout plus the reply's wire time (9 bytes at 9600
// baud: 9.4 ms); a timer that fires early waits on.
TEST(LineEngine, DeadlineCountsTheReplysWireTime)
{
    EngineHarness h;
    h.submitRead();
    ASSERT_EQ(h.link->written, QStringList{"01 03 00 00 00 02 C4 0B"});
    h.now = 109;
    h.fire("engineDeadline");
    EXPECT_TRUE(h.outcomes.isEmpty());
    h.now = 109.5;
    h.fire("engineDeadline");
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::NoReply);
}

// A reply in pieces is judged when whole; the next request waits for 3.5
// characters of silence (4.0 ms at 9600 baud).
TEST(LineEngine, WholeFrameThenSilenceBeforeTheNext)
{
    EngineHarness h;
    h.submitRead();
    h.submitRead();
    h.now = 10;
    h.link->deliver(readReply.left(4));
    EXPECT_TRUE(h.outcomes.isEmpty());
    h.now = 12.5;
    h.link->deliver(readReply.mid(4));
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::Answered);
    EXPECT_DOUBLE_EQ(h.outcomes[0].responseMs, 12.5);
    EXPECT_EQ(h.link->written.size(), 1);
    h.now = 16.6;
    h.fire("engineWake");
    EXPECT_EQ(h.link->written.size(), 2);
    EXPECT_DOUBLE_EQ(LineEngine::silenceMs(38400), 1.75);
}

// A request that got no reply is sent again up to the retry count, at once: the
// line has been quiet since the request left. Every attempt counts in the
// station's totals.
TEST(LineEngine, RetriesAndPerStationTotals)
{
    EngineHarness h;
    h.engine.setRetries(1);
    h.submitRead();
    h.now = 200;
    h.fire("engineDeadline");
    EXPECT_TRUE(h.outcomes.isEmpty());
    ASSERT_EQ(h.link->written.size(), 2);
    h.now = 210;
    h.link->deliver(QByteArray::fromHex("0183030131")); // refused: not retried
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::Refused);
    const StationTotals &t = h.engine.totals()[1];
    EXPECT_EQ(t.counts.sent, 2);
    EXPECT_EQ(t.counts.noReply, 1);
    EXPECT_EQ(t.counts.refused, 1);
    EXPECT_EQ(t.counts.answered, 0);
}

TEST(ResponseTimes, MeanMaxAndNinetyFifthPercentile)
{
    ResponseTimes t;
    for (int i = 1; i <= 100; ++i)
        t.add(i); // 1 .. 100 ms
    EXPECT_DOUBLE_EQ(t.mean(), 50.5);
    EXPECT_DOUBLE_EQ(t.max(), 100);
    EXPECT_DOUBLE_EQ(t.last(), 100);
    EXPECT_NEAR(t.p95(), 95, 0.1);
}
