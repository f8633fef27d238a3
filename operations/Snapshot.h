#pragma once

#include "operations/Messages.h"
#include "operations/RegisterMap.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

namespace kc {

using RegisterWords = std::array<std::uint16_t, registerCount>;

struct SnapshotRow
{
    int row;
    QString text; // as the row's box shows it
    std::uint16_t raw;
};

// A module's registers as read, or, as a template, the writable rows an
// operator wants every module to get.
struct Snapshot
{
    QDateTime time;
    int baud = 0;
    int station = 0;
    QString device;
    QVector<SnapshotRow> rows;
    bool isTemplate = false;
};

// All fifteen rows of the words read.
Snapshot snapshotOf(const QDateTime &time, int baud, int station, const QString &device,
                    const RegisterWords &words);
// Only the chosen rows among the writable ones (3..14).
Snapshot templateOf(const Snapshot &snapshot, const QList<int> &rows);

// "5-8,12": writable rows for a template, ascending; nothing when the text is
// not such a list.
std::optional<QList<int>> rowList(const QString &text);

// {"kind": "snapshot" | "template", "time", "baud", "station", "device",
//  "rows": [{"row", "caption", "text", "raw"}, ...]}
QByteArray snapshotJson(const Snapshot &snapshot);

// A row to write: the template's text and the word the write rules make of it.
struct TemplateRow
{
    int row;
    QString text;
    std::uint16_t word;
};

struct Template
{
    QString device;
    QVector<TemplateRow> rows; // writable rows, ascending
};

// A template file, or a snapshot file used as one (its writable rows), checked
// before anything is sent: a file that is not one, a field of the wrong type or
// size, a row out of range, missing or given twice, and a value the write rules
// refuse (the row named) each get their message.
std::variant<Template, UserMessage> parseTemplate(const QByteArray &json);

// Files far larger than any snapshot are refused unread.
inline constexpr qint64 maxTemplateBytes = 64 * 1024;

} // namespace kc
