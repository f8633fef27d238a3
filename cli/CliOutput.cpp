#include "cli/CliOutput.h"

#include "operations/Csv.h"
#include "operations/Messages.h"

#include <QJsonDocument>

#include <cmath>

namespace kc {

int exitStatusOf(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Answered:
    case OutcomeKind::Broadcast:
        return Exit::Ok;
    case OutcomeKind::NoReply:
    case OutcomeKind::Superseded:
        return Exit::NoReply;
    case OutcomeKind::Refused:
        return Exit::ModuleRefused;
    case OutcomeKind::BadChecksum:
    case OutcomeKind::WrongStation:
    case OutcomeKind::Mismatch:
    case OutcomeKind::Incomplete:
        break;
    }
    return Exit::BadReply;
}

Output::Output(QTextStream &stream, bool json, QString command)
    : m_stream(stream), m_json(json), m_command(std::move(command))
{
}

void Output::result(QJsonObject json, const QString &text)
{
    if (m_json) {
        json[QStringLiteral("command")] = m_command;
        m_stream << QJsonDocument(json).toJson(QJsonDocument::Compact) << '\n';
    } else {
        m_stream << text << '\n';
    }
    m_stream.flush();
}

QJsonObject Output::outcomeJson(const Outcome &o)
{
    QJsonObject j{{QStringLiteral("outcome"), outcomeKey(o.kind)},
                  {QStringLiteral("text"), outcomeText(o)}};
    if (o.responseMs >= 0)
        j[QStringLiteral("response_ms")] = std::round(o.responseMs * 10) / 10;
    if (o.kind == OutcomeKind::Refused) {
        j[QStringLiteral("exception")] = o.exceptionCode;
        j[QStringLiteral("exception_name")] = exceptionName(o.exceptionCode);
    }
    if (o.kind == OutcomeKind::WrongStation)
        j[QStringLiteral("from_station")] = o.station;
    if (const QString advice = outcomeAdvice(o.kind); !advice.isEmpty())
        j[QStringLiteral("advice")] = advice;
    return j;
}

QString Output::outcomeWords(const Outcome &o)
{
    const QString advice = outcomeAdvice(o.kind);
    return advice.isEmpty() ? outcomeText(o) : outcomeText(o) + QStringLiteral("；提示：") + advice;
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // East Asian wide and full-width forms.
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

QString padded(const QString &text, int width)
{
    const QString blanks(std::max(0, std::abs(width) - displayWidth(text)), QLatin1Char(' '));
    return width < 0 ? blanks + text : text + blanks;
}

bool CsvFile::open(const QString &path)
{
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

bool CsvFile::write(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &f : fields)
        quoted << csvField(f);
    const QByteArray row = (quoted.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
    return m_file.write(row) == row.size() && m_file.flush();
}

QString CsvFile::error() const
{
    return msg::fileUnwritable + m_file.fileName() + QStringLiteral(" (") + m_file.errorString() +
           QLatin1Char(')');
}

} // namespace kc
