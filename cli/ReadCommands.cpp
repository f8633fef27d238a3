// ports, read, write, address, set-address, info: one request or a few, one
// result each.
#include "cli/CliSession.h"

#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/PortNaming.h"

#include <QJsonArray>

namespace kc {

namespace {

QString caption(int row)
{
    return QString::fromUtf8(registerMap()[row].caption);
}

// "5=30": a writable row and the text to write; nothing when it is not one.
std::optional<std::pair<int, QString>> rowAndValue(const QString &pair)
{
    const int eq = int(pair.indexOf(QLatin1Char('=')));
    if (eq <= 0)
        return std::nullopt;
    const auto row = wholeNumberIn(pair.left(eq), firstWritable, registerCount - 1);
    if (!row)
        return std::nullopt;
    return std::pair{*row, pair.mid(eq + 1)};
}

} // namespace

int runPorts(CliSession &s)
{
    const QStringList devices = portDevices();
    for (int n = 1; n <= portCount; ++n) {
        const QString device = devices.value(n - 1);
        s.out().result({{QStringLiteral("port"), QStringLiteral("COM%1").arg(n)},
                        {QStringLiteral("device"), device}},
                       QStringLiteral("COM%1\t%2")
                           .arg(n)
                           .arg(device.isEmpty() ? QStringLiteral("-") : device));
    }
    return Exit::Ok;
}

int runRead(CliSession &s)
{
    const CliOptions &o = s.options();
    const auto request =
        s.accepted(planRegisterRead({o.station, QStringLiteral("3"), o.start, o.registersToRead()}));
    if (!request)
        return Exit::Refused;
    if (!s.openLine())
        return Exit::Port;
    const Outcome outcome = s.transact(*request);
    QJsonObject j = Output::outcomeJson(outcome);
    j[QStringLiteral("station")] = request->station;
    QString text;
    QJsonArray rows;
    const QVector<RegisterValue> values = registerValues(outcome);
    int captionWidth = 0;
    for (const RegisterValue &v : values)
        captionWidth = std::max(captionWidth, displayWidth(caption(v.row)));
    for (const RegisterValue &v : values) {
        rows.append(QJsonObject{{QStringLiteral("row"), v.row},
                                {QStringLiteral("caption"), caption(v.row)},
                                {QStringLiteral("value"), v.text()},
                                {QStringLiteral("raw"), v.word}});
        // The caption carries the row's number; columns line up in a terminal.
        text += padded(caption(v.row), captionWidth) + QStringLiteral("  ") + padded(v.text(), -9) +
                QStringLiteral("  ") + padded(QString::number(v.word), -5) + QLatin1Char('\n');
    }
    if (outcome.answered())
        j[QStringLiteral("registers")] = rows;
    s.out().result(j, text + Output::outcomeWords(outcome));
    return exitStatusOf(outcome.kind);
}

int runWrite(CliSession &s)
{
    const CliOptions &o = s.options();
    QVector<std::pair<int, QString>> jobs;
    if (o.arguments.isEmpty())
        return s.refuse(msg::badRowValue);
    // Every pair passes the window's rules before anything is sent.
    for (const QString &pair : o.arguments) {
        const auto job = rowAndValue(pair);
        if (!job)
            return s.refuse(pair + QStringLiteral("：") + msg::badRowValue);
        const Planned planned = planParameterWrite(job->first - firstWritable, job->second, o.station);
        if (const auto *refusal = std::get_if<UserMessage>(&planned))
            return s.refuse(refusal->text == msg::badStation ? refusal->text
                                                             : pair + QStringLiteral("：") + refusal->text);
        jobs << *job;
    }
    const auto station = s.answeringStation(writeStation(o.station));
    if (!station)
        return Exit::Refused;
    if (!s.openLine())
        return Exit::Port;
    Commissioner commissioner(*s.engine());
    for (const auto &[row, value] : jobs) {
        if (s.stopped())
            break;
        const RowWrite w = commissioner.writeRow(*station, row, value);
        QJsonObject j = Output::outcomeJson(w.writeOutcome);
        QString text = QStringLiteral("%1 %2 = %3: %4")
                           .arg(row)
                           .arg(caption(row), value, Output::outcomeWords(w.writeOutcome));
        j[QStringLiteral("row")] = row;
        j[QStringLiteral("caption")] = caption(row);
        j[QStringLiteral("value")] = value;
        j[QStringLiteral("word")] = w.diff.word;
        int status = exitStatusOf(w.writeOutcome.kind);
        if (w.written && !w.readBack.isEmpty()) {
            const bool same = w.result == RowResult::Confirmed;
            j[QStringLiteral("readback")] = w.readBack;
            j[QStringLiteral("match")] = same;
            text += QStringLiteral("; 回读 %1 %2")
                        .arg(w.readBack, same ? QStringLiteral("一致") : QStringLiteral("不一致"));
            status = same ? Exit::Ok : Exit::BadReply;
        } else if (w.written) {
            text += QStringLiteral("; 回读 ") + Output::outcomeWords(w.outcome);
            status = exitStatusOf(w.outcome.kind);
        }
        s.meet(status);
        s.out().result(j, text);
    }
    return s.worst();
}

int runAddress(CliSession &s)
{
    if (!s.openLine())
        return Exit::Port;
    const Outcome o = s.transact(Request::addressRead());
    QJsonObject j = Output::outcomeJson(o);
    QString text = Output::outcomeWords(o);
    if (const auto address = confirmedAddress(o)) {
        j[QStringLiteral("address")] = *address;
        text = QStringLiteral("地址 %1  ").arg(*address) + text;
    }
    s.out().result(j, text);
    return exitStatusOf(o.kind);
}

int runSetAddress(CliSession &s)
{
    const auto planned =
        s.accepted(planAddressChange(s.options().station, s.options().arguments.value(0)));
    if (!planned)
        return Exit::Refused;
    const Request change = *planned;
    if (!s.openLine())
        return Exit::Port;
    const Outcome o = s.transact(change);
    QJsonObject j = Output::outcomeJson(o);
    j[QStringLiteral("from")] = change.station;
    j[QStringLiteral("to")] = change.newAddress;
    QString text = Output::outcomeWords(o);
    int status = exitStatusOf(o.kind);
    if (o.answered()) {
        const Outcome c = s.transact(Request::registerRead(change.newAddress, 0, 1));
        j[QStringLiteral("confirmed")] = c.answered();
        text += QStringLiteral("; 站 %1 确认：").arg(change.newAddress) + Output::outcomeWords(c);
        status = exitStatusOf(c.kind);
    }
    s.out().result(j, text);
    return status;
}

int runInfo(CliSession &s)
{
    const auto request = s.accepted(planDeviceInfo(s.options().station));
    if (!request)
        return Exit::Refused;
    if (!s.openLine())
        return Exit::Port;
    const Outcome o = s.transact(*request);
    QJsonObject j = Output::outcomeJson(o);
    QString text = Output::outcomeWords(o);
    if (const auto device = deviceTextOf(o)) {
        j[QStringLiteral("device")] = *device;
        text = *device + QStringLiteral("  ") + text;
    }
    s.out().result(j, text);
    return exitStatusOf(o.kind);
}

} // namespace kc
