#pragma once

#include "operations/Outcomes.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

namespace kc {

// One register of an answered read.
struct RegisterValue
{
    int row;
    std::uint16_t word;
    int value; // hundredths on hundredths rows, the whole value on the others
    QString text() const; // as the row's box shows it
    bool operator==(const RegisterValue &o) const
    {
        return row == o.row && word == o.word && value == o.value;
    }
};

// What an answer says. Each gives nothing unless the outcome is "answered" and
// the request was of its kind: nothing is shown, printed, logged or applied from
// a failed reply.

// The registers of a register read, from its first register on, those beyond
// the last row left out.
QVector<RegisterValue> registerValues(const Outcome &outcome);
// The device-information text: one character per byte, eleven of them.
std::optional<QString> deviceTextOf(const Outcome &outcome);
// The station address an address read, an address change or a write confirms;
// only a module's own address (1..250), never a broadcast's 0.
std::optional<int> confirmedAddress(const Outcome &outcome);

// The two readings of an upload record, already written as the log shows them.
struct UploadReadings
{
    QString first;
    QString second;
};

// The upload record at the start of bytes, or nothing when it is not one.
std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes);

} // namespace kc
