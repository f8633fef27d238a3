#include "operations/Snapshot.h"

#include "operations/NumberText.h"
#include "operations/TimeText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace kc {

namespace {

constexpr int maxFieldChars = 64;
constexpr int maxTextChars = 32;

QString caption(int row)
{
    return QString::fromUtf8(registerMap()[row].caption);
}

// A JSON number that is a whole number in [low, high].
std::optional<int> wholeIn(const QJsonValue &value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double v = value.toDouble();
    if (v != std::floor(v) || v < low || v > high)
        return std::nullopt;
    return int(v);
}

bool shortText(const QJsonValue &value, int chars)
{
    return value.isString() && value.toString().size() <= chars;
}

struct GivenRow
{
    QString text;
    std::optional<std::uint16_t> raw;
};
using GivenRows = std::array<std::optional<GivenRow>, registerCount>;

// Entry index of "rows", checked and put at its row in given.
std::optional<UserMessage> takeRow(const QJsonValue &entry, int index, int lowest, GivenRows &given)
{
    const QJsonObject o = entry.toObject();
    const auto row = wholeIn(o.value(QLatin1String("row")), lowest, registerCount - 1);
    if (!entry.isObject() || !row)
        return UserMessage{msg::fileRowNumber.arg(index + 1).arg(lowest)};
    const QString name = caption(*row);
    if (given[std::size_t(*row)])
        return UserMessage{msg::fileRowTwice.arg(*row)};
    const QJsonValue text = o.value(QLatin1String("text"));
    if (!shortText(text, maxTextChars))
        return UserMessage{msg::fileRowText.arg(*row).arg(name)};
    const QJsonValue raw = o.value(QLatin1String("raw"));
    const auto word = wholeIn(raw, 0, 65535);
    if (!raw.isUndefined() && !word)
        return UserMessage{msg::fileRowRaw.arg(*row).arg(name)};
    if (o.contains(QLatin1String("caption")) &&
        !shortText(o.value(QLatin1String("caption")), maxFieldChars))
        return UserMessage{msg::fileField.arg(QStringLiteral("caption"))};
    given[std::size_t(*row)] = GivenRow{text.toString(), word};
    return std::nullopt;
}

} // namespace

Snapshot snapshotOf(const QDateTime &time, int baud, int station, const QString &device,
                    const RegisterWords &words)
{
    Snapshot s{time, baud, station, device, {}, false};
    for (int k = 0; k < registerCount; ++k)
        s.rows.push_back({k, decodeWord(k, words[std::size_t(k)]), words[std::size_t(k)]});
    return s;
}

std::optional<QList<int>> rowList(const QString &text)
{
    const auto rows = numberList(text, firstWritable, registerCount - 1);
    if (!rows)
        return std::nullopt;
    QList<int> sorted(rows->begin(), rows->end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

Snapshot templateOf(const Snapshot &snapshot, const QList<int> &rows)
{
    Snapshot t = snapshot;
    t.isTemplate = true;
    t.rows.clear();
    for (const SnapshotRow &r : snapshot.rows) {
        if (r.row >= firstWritable && rows.contains(r.row))
            t.rows.push_back(r);
    }
    return t;
}

QByteArray snapshotJson(const Snapshot &s)
{
    QJsonArray rows;
    for (const SnapshotRow &r : s.rows)
        rows.append(QJsonObject{{QStringLiteral("row"), r.row},
                                {QStringLiteral("caption"), caption(r.row)},
                                {QStringLiteral("text"), r.text},
                                {QStringLiteral("raw"), r.raw}});
    const QJsonObject o{{QStringLiteral("kind"),
                         s.isTemplate ? QStringLiteral("template") : QStringLiteral("snapshot")},
                        {QStringLiteral("time"), isoTime(s.time)},
                        {QStringLiteral("baud"), s.baud},
                        {QStringLiteral("station"), s.station},
                        {QStringLiteral("device"), s.device},
                        {QStringLiteral("rows"), rows}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::variant<Template, UserMessage> parseTemplate(const QByteArray &json)
{
    if (json.size() > maxTemplateBytes)
        return UserMessage{msg::fileTooLarge};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return UserMessage{msg::fileNotJson};
    const QJsonObject o = doc.object();
    const QString kind = o.value(QLatin1String("kind")).toString();
    if (kind != QLatin1String("snapshot") && kind != QLatin1String("template"))
        return UserMessage{msg::fileKind};
    const bool snapshot = kind == QLatin1String("snapshot");
    for (const char *field : {"device", "time"}) {
        const QJsonValue v = o.value(QLatin1String(field));
        if (!v.isUndefined() && !shortText(v, maxFieldChars))
            return UserMessage{msg::fileField.arg(QLatin1String(field))};
    }
    const QJsonValue rows = o.value(QLatin1String("rows"));
    if (!rows.isArray() || rows.toArray().size() > registerCount)
        return UserMessage{msg::fileRows};

    // A snapshot holds every row; a template only writable ones.
    const int lowest = snapshot ? 0 : firstWritable;
    GivenRows given;
    const QJsonArray entries = rows.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        if (const auto refusal = takeRow(entries[i], i, lowest, given))
            return *refusal;
    }
    for (int k = 0; snapshot && k < registerCount; ++k) {
        if (!given[std::size_t(k)])
            return UserMessage{msg::fileRowMissing.arg(k).arg(caption(k))};
    }

    Template t{o.value(QLatin1String("device")).toString(), {}};
    for (int k = firstWritable; k < registerCount; ++k) {
        const std::optional<GivenRow> &r = given[std::size_t(k)];
        if (!r)
            continue;
        // The same rules and words as the window's 设置.
        const auto word = encodeWrite(k, r->text);
        if (const auto *refusal = std::get_if<UserMessage>(&word))
            return UserMessage{msg::fileRowRefused.arg(k).arg(caption(k), refusal->text)};
        const std::uint16_t w = std::get<std::uint16_t>(word);
        // A hand-edited text must not leave a raw word that says otherwise.
        if (r->raw && decodeWord(k, *r->raw) != decodeWord(k, w))
            return UserMessage{msg::fileRowMismatch.arg(QString::number(k), caption(k), r->text,
                                                        QString::number(*r->raw))};
        t.rows.push_back({k, r->text, w});
    }
    if (t.rows.isEmpty())
        return UserMessage{msg::fileNoRows};
    return t;
}

} // namespace kc
