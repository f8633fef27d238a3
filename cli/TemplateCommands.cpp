// snapshot and apply: a module's rows to a file, and a template's rows to a module.
#include "cli/CliSession.h"

#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "operations/Commissioning.h"
#include "operations/RegisterMap.h"
#include "operations/Snapshot.h"

#include <QFile>
#include <QSaveFile>

namespace kc {

namespace {

QString caption(int row)
{
    return QString::fromUtf8(registerMap()[row].caption);
}

} // namespace

int runSnapshot(CliSession &s)
{
    const CliOptions &o = s.options();
    const QString path = o.arguments.value(0);
    if (path.isEmpty())
        return s.refuse(msg::noFile);
    std::optional<QList<int>> rows;
    if (!o.templateRows.isEmpty() && !(rows = rowList(o.templateRows)))
        return s.refuse(msg::templateRows);
    const auto station = s.answeringStation(writeStation(o.station));
    if (!station)
        return Exit::Refused;
    // Written whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return s.refuse(msg::fileUnwritable + path);
    if (!s.openLine())
        return Exit::Port;
    Commissioner commissioner(*s.engine());
    const auto read = commissioner.snapshot(*station);
    if (const auto *failed = std::get_if<Outcome>(&read)) {
        s.meet(exitStatusOf(failed->kind));
        s.out().result(Output::outcomeJson(*failed), msg::moduleReadFailed + Output::outcomeWords(*failed));
        return exitStatusOf(failed->kind);
    }
    Snapshot snapshot = std::get<Snapshot>(read);
    if (rows)
        snapshot = templateOf(snapshot, *rows);
    if (file.write(snapshotJson(snapshot)) < 0 || !file.commit()) {
        s.err() << msg::fileUnwritable << path << '\n';
        return Exit::File;
    }
    s.out().result({{QStringLiteral("file"), path},
                    {QStringLiteral("kind"), rows ? QStringLiteral("template")
                                                  : QStringLiteral("snapshot")},
                    {QStringLiteral("station"), *station},
                    {QStringLiteral("device"), snapshot.device},
                    {QStringLiteral("rows"), int(snapshot.rows.size())}},
                   QStringLiteral("%1 %2：站 %3  %4  %5 行")
                       .arg(rows ? QStringLiteral("模板") : QStringLiteral("快照"), path)
                       .arg(*station)
                       .arg(snapshot.device)
                       .arg(snapshot.rows.size()));
    return Exit::Ok;
}

int runApply(CliSession &s)
{
    const QString path = s.options().arguments.value(0);
    if (path.isEmpty())
        return s.refuse(msg::noFile);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return s.refuse(msg::fileUnreadable + path);
    const auto parsed = parseTemplate(file.read(maxTemplateBytes + 1));
    if (const auto *refusal = std::get_if<UserMessage>(&parsed))
        return s.refuse(refusal->text);
    const Template t = std::get<Template>(parsed);
    const auto station = s.answeringStation(writeStation(s.options().station));
    if (!station)
        return Exit::Refused;
    if (!s.openLine())
        return Exit::Port;
    Commissioner commissioner(*s.engine());
    const auto words = commissioner.readModule(*station);
    if (const auto *failed = std::get_if<Outcome>(&words)) {
        s.out().result(Output::outcomeJson(*failed), msg::moduleReadFailed + Output::outcomeWords(*failed));
        return exitStatusOf(failed->kind);
    }
    const auto show = [&](const RowWrite &w) {
        QJsonObject j = w.result == RowResult::Same ? QJsonObject() : Output::outcomeJson(w.outcome);
        const QString result = rowResultText(w);
        j[QStringLiteral("row")] = w.diff.row;
        j[QStringLiteral("caption")] = caption(w.diff.row);
        j[QStringLiteral("module")] = w.diff.moduleText;
        j[QStringLiteral("template")] = w.diff.templateText;
        j[QStringLiteral("result")] = w.result == RowResult::Same        ? QStringLiteral("same")
                                      : w.result == RowResult::Confirmed ? QStringLiteral("confirmed")
                                                                         : QStringLiteral("failed");
        j[QStringLiteral("text")] = result;
        if (!w.readBack.isEmpty())
            j[QStringLiteral("readback")] = w.readBack;
        s.out().result(j, QStringLiteral("%1 %2: %3 -> %4  %5")
                              .arg(QString::number(w.diff.row), caption(w.diff.row),
                                   w.diff.moduleText, w.diff.templateText, result));
        s.meet(w.result != RowResult::Failed ? Exit::Ok
               : !w.readBack.isEmpty()       ? Exit::BadReply
               : !w.refusal.isEmpty()        ? Exit::Refused
                                             : exitStatusOf(w.outcome.kind));
    };
    const QVector<RowDiff> diffs = differences(t, std::get<RegisterWords>(words));
    for (const RowDiff &d : diffs) {
        if (!d.differs)
            show(RowWrite(d));
    }
    commissioner.apply(*station, diffs, show);
    return s.worst();
}

} // namespace kc
