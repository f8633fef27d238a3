#include "line/Diagnosis.h"
#include "line/LineEngine.h"
#include "support/FakeLink.h"
#include "support/Frames.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace kc;

// A module at 19200 behind an adapter that echoes; the port at 9600 with the
// echo set to "never" and two retries. Cancelled once the 19200 probes are
// done, the battery ends after the probe in hand and sets the line back as it
// found it; what it saw names the module's rate and the echo.
TEST(LineDiagnosis, CancelledAfterTheProbeInHandWithTheLineSetBack)
{
    double now = 0;
    auto *link = new FakeLink;
    LineEngine engine{link, [&] { return now; }};
    engine.setTimeout(100);
    engine.setRetries(2);
    engine.setEchoMode(EchoMode::Off);
    ASSERT_TRUE(engine.open());
    LineDiagnosis diagnosis(&engine, 1, true);
    std::optional<ScanEnd> end;
    QObject::connect(&diagnosis, &LineDiagnosis::progress, [&](int done, int, double) {
        if (done == 19)
            diagnosis.cancel();
    });
    QObject::connect(&diagnosis, &LineDiagnosis::finished, [&](ScanEnd e) { end = e; });
    const auto fire = [&](const char *timer) {
        QMetaObject::invokeMethod(engine.findChild<QObject *>(QString::fromLatin1(timer)),
                                  "timeout", Qt::DirectConnection);
    };
    diagnosis.start();
    for (int sent = 1; !end && sent <= 30; ++sent) {
        ASSERT_EQ(link->written.size(), sent);
        const QByteArray frame = QByteArray::fromHex(link->written.last().toLatin1());
        if (link->baud() == 19200) {
            const QByteArray words = frame[0] == char(0xFA) ? bytes({0, 1}) : QByteArray(30, '\0');
            link->deliver(frame + withCrc(bytes({1, 3, int(words.size())}) + words));
        } else {
            now += 500;
            fire("engineDeadline");
        }
        now += 10;
        fire("engineWake");
    }
    ASSERT_EQ(end, ScanEnd::Cancelled);
    EXPECT_EQ(link->written.size(), 20);
    EXPECT_EQ(link->baud(), 9600);
    EXPECT_EQ(engine.retries(), 2);
    EXPECT_EQ(engine.echoMode(), EchoMode::Off);
    const DiagnosisReport &report = diagnosis.report();
    EXPECT_TRUE(report.cancelled);
    QStringList keys;
    for (const Finding &f : report.findings)
        keys << findingKey(f.kind);
    EXPECT_EQ(keys.join(' ').toStdString(), "one_rate echo");
}
