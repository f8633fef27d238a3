#include "operations/Commissioning.h"
#include "operations/Csv.h"

#include "operations/Scan.h"
#include "operations/TimeText.h"

#include <QStringList>

namespace kc {

QVector<RowDiff> differences(const Template &t, const RegisterWords &words)
{
    QVector<RowDiff> diffs;
    for (const TemplateRow &r : t.rows) {
        const QString module = decodeWord(r.row, words[std::size_t(r.row)]);
        const QString wanted = decodeWord(r.row, r.word);
        diffs.push_back({r.row, module, wanted, r.text, r.word, module != wanted});
    }
    return diffs;
}

QVector<RowDiff> writeOrder(const QVector<RowDiff> &diffs)
{
    QVector<RowDiff> order;
    for (const RowDiff &d : diffs) {
        if (d.differs && d.row != baudRow)
            order.push_back(d);
    }
    for (const RowDiff &d : diffs) {
        if (d.differs && d.row == baudRow)
            order.push_back(d);
    }
    return order;
}

QString rowResultText(const RowWrite &w)
{
    switch (w.result) {
    case RowResult::Same:
        return QStringLiteral("相同");
    case RowResult::Confirmed:
        return QStringLiteral("回读 %1 一致").arg(w.readBack);
    case RowResult::Failed:
        break;
    }
    if (!w.refusal.isEmpty())
        return w.refusal;
    if (!w.written)
        return QStringLiteral("写入失败：") + outcomeText(w.outcome);
    if (w.readBack.isEmpty())
        return QStringLiteral("回读失败：") + outcomeText(w.outcome);
    return QStringLiteral("回读 %1 不一致").arg(w.readBack);
}

QString moduleNote(const ModuleReport &r)
{
    const QString outcome = outcomeText(r.failedOutcome);
    switch (r.failure) {
    case ModuleFailure::None:
        break;
    case ModuleFailure::PortNotOpened:
        return msg::portBusy;
    case ModuleFailure::NoModule:
        return msg::noModule;
    case ModuleFailure::SeveralModules:
        return msg::severalModules + outcome;
    case ModuleFailure::AddressChange:
        return msg::addressChangeFailed + outcome;
    case ModuleFailure::AddressConfirm:
        return msg::addressConfirmFailed.arg(r.askedAddress) + outcome;
    case ModuleFailure::ModuleRead:
        return msg::moduleReadFailed + outcome;
    case ModuleFailure::RowsFailed:
        return msg::rowsFailed;
    case ModuleFailure::Cancelled:
        return msg::cancelled;
    case ModuleFailure::PortLost:
        return msg::portLost;
    }
    return {};
}

QString reportHeader()
{
    return QStringLiteral("time,device,old_address,new_address,result,rows,note");
}

QString reportLine(const ModuleReport &r)
{
    QStringList rows;
    for (const RowWrite &w : r.rows)
        rows << QStringLiteral("%1:%2>%3:%4")
                    .arg(QString::number(w.diff.row), w.diff.moduleText, w.diff.templateText,
                         w.result == RowResult::Failed ? QStringLiteral("fail")
                                                       : QStringLiteral("pass"));
    const auto address = [](int a) { return a < 0 ? QString() : QString::number(a); };
    const QStringList fields{isoTime(r.time),
                             r.device,
                             address(r.oldAddress),
                             address(r.newAddress),
                             r.passed ? QStringLiteral("pass") : QStringLiteral("fail"),
                             rows.join(QLatin1Char(';')),
                             moduleNote(r)};
    QStringList quoted;
    for (const QString &f : fields)
        quoted << csvField(f);
    return quoted.join(QLatin1Char(','));
}

bool ReportFile::open(const QString &path)
{
    m_file.close();
    m_file.setFileName(path);
    if (openLines(m_file, (reportHeader() + QLatin1Char('\n')).toUtf8()) && putOnDisk(m_file))
        return true;
    m_file.close();
    return false;
}

bool ReportFile::append(const ModuleReport &report)
{
    if (!m_file.isOpen())
        return false;
    if (appendWhole(m_file, (reportLine(report) + QLatin1Char('\n')).toUtf8(),
                    [this] { return putOnDisk(m_file); }))
        return true;
    m_file.close();
    return false;
}

} // namespace kc
