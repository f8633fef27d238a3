#include "operations/DataLog.h"
#include "operations/Csv.h"

#include "operations/Messages.h"
#include "operations/RegisterMap.h"
#include "operations/TimeText.h"

#include <QDir>

#include <utility>

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

double dataLogBytesPerDay(double rowsPerSecond)
{
    Outcome answered;
    answered.kind = OutcomeKind::Answered;
    answered.responseMs = 12.3;
    const LogRow row = pollRow(QStringLiteral("COM1"), 1, Reading{2534, 6520, 0, std::nullopt},
                               answered, QDateTime::currentDateTime());
    return double(DataLog::line(row).size()) * rowsPerSecond * 86400;
}

LogRow lineDownRow(const QString &port, int station, bool lost, const QDateTime &at)
{
    return {at, port, station, {}, {}, {}, lost ? msg::lineLost : msg::portNotOpened, -1};
}

QByteArray DataLog::header()
{
    return QByteArrayLiteral(
        "time,port,station,temperature_C,humidity_RH,alarm,outcome,response_ms\n");
}

QByteArray DataLog::line(const LogRow &r)
{
    const QString fields[] = {
        isoTime(r.time),
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

DataLog::DataLog()
{
    m_syncTimer.setSingleShot(true);
    m_syncTimer.callOnTimeout([this] {
        if (!sync())
            m_lostPath = m_file.fileName();
    });
}

DataLog::~DataLog()
{
    close();
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
    if (m_syncTimer.isActive() && !sync())
        m_lostPath = m_file.fileName();
    m_file.close();
    m_day = {};
}

bool DataLog::sync()
{
    m_syncTimer.stop();
    if (!m_file.isOpen())
        return true;
    ++m_syncs;
    return putOnDisk(m_file);
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
    close();
    m_file.setFileName(pathFor(day, part));
    if (!openLines(m_file, byteOrderMark + header())) {
        const QString why = m_file.isOpen() ? msg::logFileUnwritable : msg::logFileUnopened;
        close();
        return fail(why.arg(m_file.fileName()));
    }
    m_day = day;
    m_part = part;
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
        return fail(msg::logNoFolder);
    if (!QDir().mkpath(m_folder))
        return fail(msg::logFolderUnmade.arg(m_folder));
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
    if (!m_lostPath.isEmpty()) {
        // The system could not put earlier rows on the disk: they may be gone.
        const QString path = std::exchange(m_lostPath, {});
        close();
        return fail(msg::logFileUnwritable.arg(path));
    }
    const QByteArray bytes = line(row);
    if (!openFor(row.time.date(), bytes.size()))
        return false;
    const auto now = [this] { return sync(); };
    if (!appendWhole(m_file, bytes, m_syncDelayMs == 0 ? now : std::function<bool()>())) {
        close();
        m_lostPath.clear(); // said now
        return fail(msg::logFileUnwritable.arg(m_file.fileName()));
    }
    if (m_syncDelayMs > 0 && !m_syncTimer.isActive())
        m_syncTimer.start(m_syncDelayMs);
    m_error.clear();
    return true;
}

} // namespace kc
