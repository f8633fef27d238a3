#include "protocol/AdapterEcho.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <QByteArrayList>

#include <gtest/gtest.h>

using namespace kc;

// What reaches the reply of one request, after the adapter may have echoed
// it: the frame sent, what arrives delivery by delivery, and the reply left.
TEST(AdapterEcho, EchoTakenOffTheFrontOfTheReply)
{
    const QByteArray read = QByteArray::fromHex("010300000002C40B");
    const QByteArray answer = QByteArray::fromHex("01030409E6FF38587A");
    const QByteArray write = QByteArray::fromHex("01060A0400960A7C");
    const QByteArray spoilt = read.left(7) + '\x0C'; // the request but its last byte
    struct Case
    {
        EchoMode mode;
        bool learnt; // an echoed read came before
        QByteArray sent;
        QByteArrayList arrivals;
        QByteArray reply;
        bool echoTaken;
        bool echoesAfter;
    };
    const Case cases[] = {
        {EchoMode::Auto, false, read, {read.left(3), read.mid(3) + answer}, answer, true, true},
        {EchoMode::Auto, false, read, {answer}, answer, false, false},
        // A write's copy is its reply until an echo has been seen.
        {EchoMode::Auto, false, write, {write}, write, false, false},
        {EchoMode::Auto, true, write, {write, write}, write, true, true},
        // A reply of its own without the echo: this adapter does not echo.
        {EchoMode::Auto, true, read, {answer}, answer, false, false},
        {EchoMode::On, false, write, {write, write}, write, true, true},
        {EchoMode::Off, false, read, {read, answer}, read + answer, false, false},
        // The echo's beginning, then the deadline: those bytes were the reply's.
        {EchoMode::Auto, false, read, {read.left(3)}, read.left(3), false, false},
        {EchoMode::On, false, read, {spoilt}, spoilt, false, true},
    };
    for (const Case &c : cases) {
        AdapterEcho echo;
        echo.setMode(c.mode);
        if (c.learnt) {
            echo.sent(read);
            echo.feed(read + answer);
        }
        echo.sent(c.sent);
        QByteArray reply;
        bool taken = false;
        for (const QByteArray &delivery : c.arrivals) {
            const AdapterEcho::Step step = echo.feed(delivery);
            reply += step.rest;
            taken |= !step.echo.isEmpty();
        }
        reply += echo.release();
        const std::string at = c.arrivals.join('|').toHex().toStdString();
        EXPECT_EQ(reply.toHex(), c.reply.toHex()) << at;
        EXPECT_EQ(taken, c.echoTaken) << at;
        EXPECT_EQ(echo.echoes(), c.echoesAfter) << at;
    }
    EXPECT_EQ(echoModeFromKey(QStringLiteral("on")), EchoMode::On);
    EXPECT_EQ(echoModeFromKey(QStringLiteral("yes")), std::nullopt);
}
