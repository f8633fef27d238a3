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
    return j;
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
