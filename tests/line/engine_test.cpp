#include "line/LineEngine.h"
#include "support/FakeLink.h"

#include <gtest/gtest.h>

using namespace kc;

namespace {

const Request read2 = Request::registerRead(1, 0, 2);
const QByteArray readReply = QByteArray::fromHex("01030409E6FF38587A");

// An engine on the fake link with a clock the test moves; timers are fired by hand.
struct EngineHarness
{
    double now = 0;
    FakeLink *link = new FakeLink;
    LineEngine engine{link, [this] { return now; }};
    QList<Outcome> outcomes;

    EngineHarness()
    {
        QObject::connect(&engine, &LineEngine::finished,
                         [this](const Outcome &o) { outcomes << o; });
        engine.setTimeout(100);
        EXPECT_TRUE(engine.open());
    }
    void fire(const char *timer)
    {
        QMetaObject::invokeMethod(engine.findChild<QObject *>(QString::fromLatin1(timer)),
                                  "timeout", Qt::DirectConnection);
    }
};

} // namespace

// The deadline is the timeout plus the reply's wire time (9 bytes at 9600
// baud: 9.4 ms); a timer that fires early waits on.
TEST(LineEngine, DeadlineCountsTheReplysWireTime)
{
    EngineHarness h;
    h.engine.submit(read2);
    ASSERT_EQ(h.link->written, QStringList{"01 03 00 00 00 02 C4 0B"});
    h.now = 109;
    h.fire("engineDeadline");
    EXPECT_TRUE(h.outcomes.isEmpty());
    h.now = 109.5;
    h.fire("engineDeadline");
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::NoReply);
    EXPECT_EQ(h.outcomes[0].request, read2);
}

// A reply in pieces is judged when whole, the wake count set for the rest of
// it; the next request waits for 3.5 characters of silence (4.0 ms at 9600
// baud) from the reply's last byte.
TEST(LineEngine, WholeFrameThenSilenceBeforeTheNext)
{
    EngineHarness h;
    h.engine.submit(read2);
    h.engine.submit(read2);
    h.now = 10;
    h.link->deliver(readReply.left(4));
    EXPECT_TRUE(h.outcomes.isEmpty());
    EXPECT_EQ(h.link->wakeAt(), 5);
    h.now = 12.5;
    h.link->deliver(readReply.mid(4));
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::Answered);
    EXPECT_DOUBLE_EQ(h.outcomes[0].responseMs, 12.5);
    EXPECT_EQ(h.link->written.size(), 1);
    h.now = 16.4;
    h.fire("engineWake");
    EXPECT_EQ(h.link->written.size(), 1);
    h.now = 16.6;
    h.fire("engineWake");
    EXPECT_EQ(h.link->written.size(), 2);
    EXPECT_DOUBLE_EQ(LineEngine::silenceMs(38400), 1.75);
}

// Only what a line's noise can cause is asked again: nothing back, a cut
// reply, a garbled one. An answer of any kind from a module is final.
TEST(LineEngine, WhichOutcomesAreRetried)
{
    const std::pair<const char *, bool> cases[] = {
        {"", true},                    // no reply
        {"0103", true},                // incomplete
        {"01030409E6FF38587B", true},  // bad checksum
        {"0183030131", false},         // refused
        {"07030409E6FF383E7A", false}, // another station
        {"01030409E6FF38587A", false}, // answered
    };
    for (const auto &[reply, retried] : cases) {
        EngineHarness h;
        h.engine.setRetries(1);
        h.engine.submit(read2);
        h.now = 10;
        h.link->deliver(QByteArray::fromHex(reply));
        h.now = 200;
        h.fire("engineDeadline");
        // Every attempt counts in the station's totals; only the last is
        // reported. After nothing at all the line has been quiet since the
        // request left: the retry goes at once.
        EXPECT_EQ(h.engine.totals()[1].sent, 1) << reply;
        EXPECT_EQ(h.outcomes.size(), retried ? 0 : 1) << reply;
        EXPECT_EQ(h.link->written.size(), *reply ? 1 : 2) << reply;
        h.now = 300;
        h.fire("engineWake"); // after the line's silence
        EXPECT_EQ(h.link->written.size(), retried ? 2 : 1) << reply;
    }
}

// A link that frames its messages itself (Modbus TCP) needs no silence: the
// next request goes out with the reply.
TEST(LineEngine, NoSilenceWhereTheLinkFramesItself)
{
    EngineHarness h;
    h.link->silence = false;
    h.engine.submit(read2);
    h.engine.submit(read2);
    h.link->deliver(readReply);
    EXPECT_EQ(h.link->written.size(), 2);
}

// The window's own rhythm: a request sent now supersedes the one waiting and
// goes out at once, silence or not; the upload mode stops waiting altogether;
// a closed line answers nothing, at once; a lost one ends the request in hand.
TEST(LineEngine, SendNowStopWaitingAndALostLine)
{
    EngineHarness h;
    h.engine.sendNow(read2);
    h.link->deliver(readReply.left(3));
    h.engine.sendNow(Request::deviceInfo(1));
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::Superseded);
    EXPECT_EQ(h.outcomes[0].bytes, 3);
    EXPECT_EQ(h.link->written.last(), "01 26 00 00 00 05 C8 0E");
    h.engine.stopWaiting();
    EXPECT_EQ(h.outcomes.last().request, Request::deviceInfo(1));
    EXPECT_EQ(h.outcomes.last().kind, OutcomeKind::Superseded);
    EXPECT_FALSE(h.engine.busy());

    h.engine.submit(read2);
    h.link->loseLine();
    EXPECT_TRUE(h.engine.lost());
    EXPECT_EQ(h.outcomes.last().kind, OutcomeKind::NoReply);
    h.engine.submit(read2);
    EXPECT_EQ(h.outcomes.size(), 4);
    EXPECT_EQ(h.outcomes.last().kind, OutcomeKind::NoReply);
    EXPECT_EQ(h.link->written.size(), 3); // nothing written to the closed line
}

// A beginning of the adapter's echo that never became whole is the reply's,
// judged at the deadline. The echo taken off a reply and reported once: the
// window's line doctor test, on every probe of its battery.
TEST(LineEngine, EchoBeginningJudgedAtTheDeadline)
{
    EngineHarness h;
    int echoes = 0;
    QObject::connect(&h.engine, &LineEngine::echoed, [&] { ++echoes; });
    h.engine.submit(read2);
    h.link->deliver(read2.frame().left(3));
    h.now = 200;
    h.fire("engineDeadline");
    ASSERT_EQ(h.outcomes.size(), 1);
    EXPECT_EQ(h.outcomes[0].kind, OutcomeKind::Incomplete);
    EXPECT_EQ(h.outcomes[0].bytes, 3);
    EXPECT_EQ(echoes, 0);
}
