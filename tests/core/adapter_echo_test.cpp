#include "protocol/AdapterEcho.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace kc;

// What reaches the reply of one request, after the adapter may have echoed
// it. Arrivals are deliveries separated by '|': E the echo (E:3 its first
// three bytes, E3: the rest), R the reply (a write's reply is its copy).
TEST(AdapterEcho, EchoTakenOffTheFrontOfTheReply)
{
    const QByteArray read = QByteArray::fromHex("010300000002C40B");
    const QByteArray readAnswer = QByteArray::fromHex("01030409E6FF38587A");
    const QByteArray write = QByteArray::fromHex("01060A0400960A7C");
    struct Case
    {
        EchoMode mode;
        bool learnt; // an echoed read came before
        bool isWrite;
        const char *arrivals;
        const char *reply;
        bool echoTaken;
        bool echoesAfter;
    };
    const Case cases[] = {
        {EchoMode::Auto, false, false, "E:3|E3:R", "R", true, true},
        {EchoMode::Auto, false, false, "R", "R", false, false},
        // A write's copy is its reply until an echo has been seen.
        {EchoMode::Auto, false, true, "E", "E", false, false},
        {EchoMode::Auto, true, true, "E|E", "E", true, true},
        // A reply of its own without the echo: this adapter does not echo.
        {EchoMode::Auto, true, false, "R", "R", false, false},
        {EchoMode::On, false, true, "E|E", "E", true, true},
        {EchoMode::Off, false, false, "E|R", "ER", false, false},
        // The echo's beginning, then the deadline: those bytes were the reply's.
        {EchoMode::Auto, false, false, "E:3", "E:3", false, false},
    };
    for (const Case &c : cases) {
        AdapterEcho echo;
        echo.setMode(c.mode);
        if (c.learnt) {
            echo.sent(read);
            echo.feed(read + readAnswer);
        }
        const QByteArray frame = c.isWrite ? write : read;
        const auto bytesOf = [&](const QString &tokens) {
            QByteArray b;
            for (const QString &t : tokens.split(QLatin1Char('R'))) {
                if (t == QLatin1String("E"))
                    b += frame;
                else if (t == QLatin1String("E:3"))
                    b += frame.left(3);
                else if (t == QLatin1String("E3:"))
                    b += frame.mid(3);
            }
            return tokens.endsWith(QLatin1Char('R')) ? b + (c.isWrite ? write : readAnswer) : b;
        };
        echo.sent(frame);
        QByteArray reply;
        bool taken = false;
        for (const QString &delivery : QString::fromLatin1(c.arrivals).split(QLatin1Char('|'))) {
            const AdapterEcho::Step step = echo.feed(bytesOf(delivery));
            reply += step.rest;
            taken |= !step.echo.isEmpty();
        }
        reply += echo.release();
        const std::string at = c.arrivals;
        EXPECT_EQ(reply.toHex(), bytesOf(QString::fromLatin1(c.reply)).toHex()) << at;
        EXPECT_EQ(taken, c.echoTaken) << at;
        EXPECT_EQ(echo.echoes(), c.echoesAfter) << at;
    }
    EXPECT_EQ(echoModeFromKey(QStringLiteral("on")), EchoMode::On);
    EXPECT_EQ(echoModeFromKey(QStringLiteral("yes")), std::nullopt);
}
