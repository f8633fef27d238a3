#include "operations/Relay.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

using namespace kc;

// Another master's PDU for station 1: the frame that goes to the line, or the
// exception that answers it unsent.
TEST(Relay, WhatGoesToTheLineAndWhatIsAnsweredUnsent)
{
    // The PDU, whether writes are allowed, and the frame or the exception code.
    const std::tuple<const char *, bool, const char *> cases[] = {
        {"03 0000 000F", false, "01 03 00 00 00 0F 05 CE"},
        {"04 0005 0002", false, "01 04 00 05 00 02 61 CA"},
        {"03 0000 0000", false, "03"},    // no register
        {"03 0000 007E", false, "03"},    // more than a reply holds
        {"03 0100 0001", false, "02"},    // beyond the module's registers
        {"03 0000 000F 00", false, "03"}, // a byte too many
        {"06 0A04 0BB8", false, "01"},    // writes not allowed
        {"06 0A04 0BB8", true, "01 06 0A 04 0B B8 CC 91"},
        {"06 0A05 0001", true, "02"},                      // not a row's address
        {"06 0B00 0005", true, "02"},                      // the address register
        {"06 0A00 0400", true, "03"},                      // calibration 10.24: beyond its check
        {"06 0A00 FC18", true, "01 06 0A 00 FC 18 CB 18"}, // -10.00
        {"06 0A12 04B0", true, "03"},                      // 1200 baud
        {"26 0000 0005", false, "01 26 00 00 00 05 C8 0E"},
        {"26", false, "03"},
        {"10 0A04 0001 02 0BB8", true, "01"}, // a function the module has not
        {"", false, "01"},
    };
    for (const auto &[pdu, writes, frame] : cases) {
        const auto relayed =
            relayedRequest(1, QByteArray::fromHex(QByteArray(pdu).replace(' ', "")), writes);
        const QString got =
            std::holds_alternative<int>(relayed)
                ? QStringLiteral("%1").arg(std::get<int>(relayed), 2, 16, QLatin1Char('0'))
                : QString::fromLatin1(std::get<Request>(relayed).frame().toHex(' ').toUpper());
        EXPECT_EQ(got.toStdString(), frame) << pdu;
    }
}

// The module's answer or refusal goes back as it came; anything else is 0x0B.
TEST(Relay, AnswersInTheClientsPdu)
{
    Outcome o;
    o.request = Request::registerRead(1, 0, 2);
    o.kind = OutcomeKind::Answered;
    o.frame = readReply({2534, 6520}, 1);
    EXPECT_EQ(relayedAnswer(o).toHex(), "030409e61978");
    o.kind = OutcomeKind::Refused;
    o.frame = withCrc(bytes({1, 0x83, 0x02}));
    EXPECT_EQ(relayedAnswer(o).toHex(), "8302");
    for (const OutcomeKind kind : {OutcomeKind::NoReply, OutcomeKind::BadChecksum,
                                   OutcomeKind::WrongStation, OutcomeKind::Incomplete}) {
        o.kind = kind;
        EXPECT_EQ(relayedAnswer(o).toHex(), "830b");
    }
    o.request = Request::registerWrite(1, 5, 3000);
    EXPECT_EQ(relayedAnswer(o).toHex(), "860b");
}
