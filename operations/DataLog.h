#pragma once

#include "operations/ModuleReading.h"
#include "operations/Outcomes.h"
#include "operations/Replies.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTimer>

#include <optional>

namespace kc {

// One row of the data log: a module's poll or an upload record.
struct LogRow
{
    QDateTime time;
    QString port;
    int station = 0;     // 0: none (an upload record names no station)
    QString temperature; // as the window shows it ("25.34"); empty when not read
    QString humidity;
    QString alarm;          // in words
    QString outcome;        // in words
    double responseMs = -1; // below 0: none
};

// The row of a poll: the values when it was answered, its outcome in words.
LogRow pollRow(const QString &port, int station, const std::optional<Reading> &reading,
               const Outcome &outcome, const QDateTime &at);
// The row of an upload record, at the time it came in.
LogRow uploadRow(const QString &port, const UploadReadings &record, const QDateTime &at);
// How many bytes a day the log grows by at a number of polls a second, from a
// row of a module answering.
double dataLogBytesPerDay(double rowsPerSecond);
// The row of a module whose line went away (lost), or would not open.
LogRow lineDownRow(const QString &port, int station, bool lost, const QDateTime &at);

// The CSV data log: one file a day, named by the date of its rows' times
// (kc4420-2026-12-06.csv), or a new part (kc4420-2026-12-06_2.csv) whenever a
// file would pass the size the operator set, each starting with a header row.
// Every row goes to the system in one write the moment it is logged, so a
// crash of the program loses no logged row (a kill can cut only the row being
// written; a cut last row is ended when the file is opened again). The system
// is asked to put the file on the disk a second after the first row not yet
// there (and when a file is closed), so a pulled plug loses at most the rows
// of the last second: syncing every row would cost a disk flush per poll.
// Numbers carry a point and no thousands separator, whatever the desktop's
// language, so spreadsheets read them as numbers.
class DataLog
{
public:
    DataLog();
    ~DataLog();
    DataLog(const DataLog &) = delete;
    DataLog &operator=(const DataLog &) = delete;

    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    // 0: one file a day, however large.
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    qint64 maxBytes() const { return m_maxBytes; }
    // How long a written row may wait for the disk; 0: each row is on the disk
    // before write() returns.
    void setSyncDelay(int ms) { m_syncDelayMs = ms; }
    // The times the file was put on the disk.
    int syncs() const { return m_syncs; }

    // False, with error() saying why (a text of the message table), when the
    // row could not be written; nothing of it is left in the file then.
    bool write(const LogRow &row);
    QString error() const { return m_error; }
    QString currentPath() const { return m_file.fileName(); }
    void close();

    static QByteArray header();
    static QByteArray line(const LogRow &row);

private:
    bool wouldPassLimit(qint64 rowBytes) const;
    bool openFor(const QDate &day, qint64 rowBytes);
    bool openPart(const QDate &day, int part);
    QString pathFor(const QDate &day, int part) const;
    bool fail(const QString &why);
    // False when the system could not put the file on the disk.
    bool sync();

    bool m_enabled = false;
    QString m_folder;
    qint64 m_maxBytes = 0;
    QFile m_file;
    QDate m_day;
    int m_part = 1;
    QString m_error;
    QTimer m_syncTimer;
    int m_syncDelayMs = 1000;
    int m_syncs = 0;
    QString m_lostPath; // a file whose rows the system could not put on the disk
};

} // namespace kc
