#include "operations/Listening.h"
#include "protocol/ListenFraming.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace kc;

namespace {

const QByteArray readRequest = QByteArray::fromHex("010300000002C40B");
const QByteArray readAnswer = QByteArray::fromHex("01030409E6FF38587A");
const QByteArray write5 = withCrc(QByteArray::fromHex("01060A041388"));

QString roles(const QVector<HeardFrame> &frames)
{
    QStringList out;
    for (const HeardFrame &f : frames) {
        const bool request = f.role == HeardFrame::Role::Request;
        const bool reply = f.role == HeardFrame::Role::Reply;
        out << QStringLiteral("%1%2@%3")
                   .arg(request ? "Q"
                        : reply ? (f.crcOk ? "A" : "a")
                                : "n")
                   .arg(f.bytes.size())
                   .arg(f.at);
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

// What a listener hears, delivery by delivery (time in ms, then bytes), cut
// into requests (Q), replies (A, damaged a) and noise (n): length and the
// time of the delivery that held the last byte. A delivery with no bytes is
// the silence timer.
TEST(ListenFraming, FramesCutByLengthCrcAndSilence)
{
    QByteArray flipped = readAnswer;
    flipped[4] = 0;
    const QByteArray other = readReply({0x09E6, 0xFF38}, 7);
    struct Delivery
    {
        double at;
        QByteArray bytes;
    };
    struct Case
    {
        const char *what;
        QVector<Delivery> deliveries;
        const char *frames;
    };
    const Case cases[] = {
        {"request and reply in one", {{1, readRequest + readAnswer}}, "Q8@1 A9@1"},
        {"reply in pieces",
         {{1, readRequest}, {5, readAnswer.left(4)}, {7, readAnswer.mid(4)}},
         "Q8@1 A9@7"},
        {"a write's reply repeats it", {{1, write5}, {5, write5}}, "Q8@1 A8@5"},
        {"no answer, the next request", {{1, readRequest}, {50, readRequest}}, "Q8@1 Q8@50"},
        {"stray bytes", {{1, readRequest}, {5, "\xFF\xFF" + readAnswer}}, "Q8@1 n2@5 A9@5"},
        {"reply from another station", {{1, readRequest}, {5, other}}, "Q8@1 A9@5"},
        // A reply cut short waits for its rest, then the silence ends it.
        {"cut reply", {{1, readRequest}, {5, readAnswer.left(6)}, {10, {}}, {40, {}}}, "Q8@1 a6@5"},
        {"cut reply, next request",
         {{1, readRequest}, {5, readAnswer.left(6) + readRequest}},
         "Q8@1 a6@5 Q8@5"},
        // Whole but its checksum fails: cut at the first silence.
        {"bad checksum", {{1, readRequest}, {5, flipped}, {9, {}}}, "Q8@1 a9@5"},
        {"garbage alone", {{1, "\x12\x34\x56"}, {2, {}}, {6, {}}}, "n3@1"},
    };
    for (const Case &c : cases) {
        LineFramer framer(4, 24);
        QVector<HeardFrame> frames;
        for (const Delivery &d : c.deliveries)
            frames += d.bytes.isEmpty() ? framer.idle(d.at) : framer.feed(d.bytes, d.at);
        EXPECT_EQ(roles(frames).toStdString(), c.frames) << c.what;
    }
}

// The frames paired, judged as the tool's own requests are, counted by
// station; each request as a value where the tool could have sent it.
TEST(ListenFraming, ExchangesJudgedAndCounted)
{
    const QByteArray refusal = withCrc(QByteArray::fromHex("018302"));
    HeardTraffic traffic;
    QVector<HeardExchange> done;
    const auto hear = [&](HeardFrame::Role role, const QByteArray &bytes, double at,
                          bool ok = true) {
        done += traffic.take({bytes, role, ok, at});
    };
    using R = HeardFrame::Role;
    hear(R::Request, readRequest, 10);
    hear(R::Reply, readAnswer, 14.5);
    hear(R::Request, readRequest, 20);
    hear(R::Request, readRequest, 30);
    hear(R::Reply, refusal, 33);
    hear(R::Request, write5, 40);
    hear(R::Reply, readAnswer.left(5), 45, false);
    hear(R::Reply, readAnswer, 50); // nobody asked
    hear(R::Noise, "\xFF\xFF", 51);
    hear(R::Request, readRequest, 60);
    done += traffic.finish();
    QStringList outcomes;
    for (const HeardExchange &x : done)
        outcomes << outcomeKey(x.outcome.kind);
    EXPECT_EQ(outcomes.join(" ").toStdString(), "answered no_reply refused incomplete no_reply");
    EXPECT_EQ(exchangeText(done[0]).toStdString(),
              "站 1  读寄存器 0-1 (03)  应答正常 4.5 ms  0=25.34  1=-1.99");
    EXPECT_EQ(heardRequestText(done[3]).toStdString(), "写 5 温度报警上限 = 50.00");
    const OutcomeTotals &t = traffic.stations()[1];
    EXPECT_EQ(t.sent, 5);
    EXPECT_EQ(t.answered + t.refused + t.noReply + t.incomplete, t.sent);
    EXPECT_EQ(t.times.percentile(50), 4.5);
    EXPECT_EQ(traffic.unpaired(), 1);
    EXPECT_EQ(traffic.noiseBytes(), 2);

    const std::pair<const char *, std::optional<Request>> known[] = {
        {"010300000002", Request::registerRead(1, 0, 2)},
        {"FA0300000001", Request::addressRead()},
        {"01060B000009", Request::addressChange(1, 9)},
        {"012600000005", Request::deviceInfo(1)},
        {"010301000002", std::nullopt}, // a start this tool never sends
        {"01060C000001", std::nullopt}, // no row of the module
    };
    for (const auto &[frame, request] : known)
        EXPECT_EQ(requestOf(withCrc(QByteArray::fromHex(frame))), request) << frame;
}
