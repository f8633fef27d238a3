#include "line/DataLog.h"
#include "operations/Csv.h"

#include "operations/RegisterMap.h"
#include "operations/TrafficLog.h"

#include <QDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kc {

namespace {

// Spreadsheets take a file with this mark for UTF-8, so the Chinese words show.
const QByteArray byteOrderMark("\xEF\xBB\xBF");

} // namespace

LogRow pollRow(const QString &port, int station, const std::optional<Reading> &reading,
               const Outcome &outcome, const QDateTime &at)
{
    LogRow row{at, port, station, {}, {}, {}, outcomeText(outcome), -1};
    if (outcome.kind == OutcomeKind::Answered && reading) {
        row.temperature = valueText(temperatureRow, reading->temperature);
        row.humidity = valueText(humidityRow, reading->humidity);
        row.alarm = alarmText(reading->alarmCode);
        row.responseMs = outcome.responseMs;
    }
    return row;
}

LogRow uploadRow(const QString &port, const UploadReadings &record, const QDateTime &at)
{
    return {at, port, 0, record.first, record.second, {}, QStringLiteral("主动上传"), -1};
}

QByteArray DataLog::header()
{
    return QByteArrayLiteral(
        "time,port,station,temperature_C,humidity_RH,alarm,outcome,response_ms\n");
}

QByteArray DataLog::line(const LogRow &r)
{
    const QString fields[] = {
        r.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")),
        csvField(r.port),
        r.station > 0 ? QString::number(r.station) : QString(),
        r.temperature,
        r.humidity,
        csvField(r.alarm),
        csvField(r.outcome),
        r.responseMs >= 0 ? QString::number(r.responseMs, 'f', 1) : QString(),
    };
    QString text;
    for (const QString &f : fields)
        text += f + QLatin1Char(',');
    text.back() = QLatin1Char('\n');
    return text.toUtf8();
}

void DataLog::setEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        close();
}

void DataLog::setFolder(const QString &folder)
{
    if (folder != m_folder)
        close();
    m_folder = folder;
}

void DataLog::close()
{
    m_file.close();
    m_day = {};
}

QString DataLog::pathFor(const QDate &day, int part) const
{
    QString name = QStringLiteral("kc4420-") + day.toString(QStringLiteral("yyyy-MM-dd"));
    if (part > 1)
        name += QStringLiteral("_%1").arg(part);
    return QDir(m_folder).filePath(name + QStringLiteral(".csv"));
}

bool DataLog::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool DataLog::openPart(const QDate &day, int part)
{
    m_file.close();
    m_file.setFileName(pathFor(day, part));
    // Unbuffered: each row is one write to the system, whole or not at all.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return fail(QStringLiteral("无法打开数据记录文件：") + m_file.fileName());
    m_day = day;
    m_part = part;
    QByteArray start;
    if (m_file.size() == 0) {
        start = byteOrderMark + header();
    } else {
        // A row cut short by a power failure must not swallow the next one.
        m_file.seek(m_file.size() - 1);
        if (m_file.read(1) != "\n")
            start = "\n";
    }
    if (!start.isEmpty() && m_file.write(start) != start.size())
        return fail(QStringLiteral("无法写入数据记录文件：") + m_file.fileName());
    return true;
}

bool DataLog::wouldPassLimit(qint64 rowBytes) const
{
    // A file holding no row yet takes the row however large it is.
    return m_maxBytes > 0 && m_file.isOpen() && m_file.size() + rowBytes > m_maxBytes &&
           m_file.size() > byteOrderMark.size() + header().size();
}

bool DataLog::openFor(const QDate &day, qint64 rowBytes)
{
    const bool full = wouldPassLimit(rowBytes);
    if (m_file.isOpen() && day == m_day && !full)
        return true;
    if (m_folder.isEmpty())
        return fail(QStringLiteral("请先选择数据记录文件夹"));
    if (!QDir().mkpath(m_folder))
        return fail(QStringLiteral("无法创建数据记录文件夹：") + m_folder);
    int part = 1;
    if (day == m_day && full) {
        part = m_part + 1;
    } else {
        // Carry on in the day's last part, as a restarted program finds it.
        while (QFile::exists(pathFor(day, part + 1)))
            ++part;
    }
    if (!openPart(day, part))
        return false;
    return !wouldPassLimit(rowBytes) || openPart(day, part + 1);
}

bool DataLog::write(const LogRow &row)
{
    const QByteArray bytes = line(row);
    if (!openFor(row.time.date(), bytes.size()))
        return false;
    const qint64 before = m_file.size();
    if (m_file.write(bytes) != bytes.size()) {
        // Leave no part of a row behind for the next one to run into.
        m_file.resize(before);
        const QString path = m_file.fileName();
        close();
        return fail(QStringLiteral("无法写入数据记录文件：") + path);
    }
#ifdef Q_OS_UNIX
    if (!m_sinceSync.isValid() || m_sinceSync.elapsed() >= 1000) {
        ::fdatasync(m_file.handle());
        m_sinceSync.start();
    }
#endif
    m_error.clear();
    return true;
}

} // namespace kc
