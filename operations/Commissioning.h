#pragma once

#include "operations/Outcomes.h"
#include "operations/Snapshot.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QVector>

namespace kc {

// One template row against the module.
struct RowDiff
{
    int row;
    QString moduleText;
    QString templateText; // as the row's box would show it
    QString writeText;    // as the template gives it: the text the write is made of
    std::uint16_t word;   // the template's
    bool differs;         // as the rows' boxes would show them
};

// Every template row, ascending.
QVector<RowDiff> differences(const Template &t, const RegisterWords &words);

// The rows to write: those that differ, the baud-rate row last, since the
// module answers at its new rate from then on.
QVector<RowDiff> writeOrder(const QVector<RowDiff> &diffs);

enum class RowResult { Same, Confirmed, Failed };

// What became of one row.
struct RowWrite
{
    explicit RowWrite(const RowDiff &diff = {}, RowResult result = RowResult::Same)
        : diff(diff), result(result)
    {
    }
    RowDiff diff;
    RowResult result;
    bool written = false; // the module answered the write
    QString refusal;      // the write rules' message, when they refused the value
    QString readBack;     // the read-back's text, empty when none came
    Outcome writeOutcome; // of the write
    Outcome outcome;      // of the last request for the row
};

// "相同", "回读 35.00 一致", "回读 30.00 不一致", "写入失败：…", "回读失败：…"
QString rowResultText(const RowWrite &w);

// Where a module's run stopped.
enum class ModuleFailure {
    None,
    PortNotOpened,
    NoModule,       // nothing answered the station-250 read
    SeveralModules, // something did, but not one module cleanly
    AddressChange,
    AddressConfirm, // no answer at the new address
    ModuleRead,
    RowsFailed,
    Cancelled,
    PortLost,
};

// One module through address assignment and the template.
struct ModuleReport
{
    QDateTime time;
    QString device;
    int oldAddress = -1;
    int askedAddress = -1;
    int newAddress = -1;    // -1 until confirmed at it
    QVector<RowWrite> rows; // the rows written
    bool passed = false;
    ModuleFailure failure = ModuleFailure::None;
    Outcome failedOutcome; // of the request that stopped it, where one did
};

// Why a module failed, in words; empty when it passed.
QString moduleNote(const ModuleReport &report);

QString reportHeader();
// time,device,old_address,new_address,result,rows,note with rows as
// "5:30.00>35.00:pass;12:9600>19200:fail".
QString reportLine(const ModuleReport &report);

// The commissioning report: appended one whole line at a time, each on the
// disk before append() returns, so pulling the plug loses at most the module
// in progress and a full disk never leaves half a line.
class ReportFile
{
public:
    // Creates the file with its header, or appends to it (a last line cut
    // short is ended first).
    bool open(const QString &path);
    // False when the line is not on the disk; nothing of it is in the file
    // then, and the report is closed until opened again.
    bool append(const ModuleReport &report);
    QString path() const { return m_file.fileName(); }
    bool isOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
};

} // namespace kc
