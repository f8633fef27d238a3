#include "line/Commissioner.h"

#include "line/LineEngine.h"
#include "operations/Replies.h"
#include "operations/Scan.h"

#include <algorithm>
#include <optional>

namespace kc {

namespace {

// The words of an answered read of count registers; nothing when the reply
// carries another number of them.
std::optional<QVector<std::uint16_t>> replyWords(const Outcome &o, int count)
{
    const QVector<RegisterValue> values = registerValues(o);
    if (values.size() != count || std::uint8_t(o.frame[2]) != 2 * count)
        return std::nullopt;
    QVector<std::uint16_t> words;
    for (const RegisterValue &v : values)
        words.push_back(v.word);
    return words;
}

} // namespace

Outcome Commissioner::transact(const Request &request)
{
    return m_engine.transact(request);
}

std::variant<RegisterWords, Outcome> Commissioner::readModule(int station)
{
    Outcome o = transact(Request::registerRead(station, 0, registerCount));
    const auto words = replyWords(o, registerCount);
    if (!words) {
        // An answer with fewer registers than asked is as good as none.
        if (o.answered())
            o.kind = OutcomeKind::Incomplete;
        return o;
    }
    RegisterWords all{};
    std::copy(words->begin(), words->end(), all.begin());
    return all;
}

QString Commissioner::deviceText(int station)
{
    return deviceTextOf(transact(Request::deviceInfo(station))).value_or(QString());
}

std::variant<Snapshot, Outcome> Commissioner::snapshot(int station)
{
    const auto words = readModule(station);
    if (const auto *failed = std::get_if<Outcome>(&words))
        return *failed;
    return snapshotOf(QDateTime::currentDateTime(), m_engine.baud(), station, deviceText(station),
                      std::get<RegisterWords>(words));
}

ModuleFailure Commissioner::stopped() const
{
    return m_engine.lost()  ? ModuleFailure::PortLost
           : m_cancelled ? ModuleFailure::Cancelled
                         : ModuleFailure::None;
}

RowWrite Commissioner::writeRow(int station, int row, const QString &text)
{
    RowWrite w(RowDiff{row, {}, {}, text, 0, true}, RowResult::Failed);
    const Planned planned = planParameterWrite(row - firstWritable, text, QString::number(station));
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        w.refusal = refusal->text;
        return w;
    }
    const Request write = std::get<Request>(planned);
    w.diff.word = write.word;
    w.writeOutcome = w.outcome = transact(write);
    w.written = w.outcome.answered();
    if (!w.written)
        return w;
    const int oldBaud = m_engine.baud();
    // The module answers the write at its old rate and listens at the new one after.
    if (row == baudRow)
        m_engine.changeBaud(write.word);
    w.outcome = transact(Request::registerRead(write.station, row, 1));
    if (const auto word = replyWords(w.outcome, 1)) {
        w.readBack = decodeWord(row, word->first());
        w.result = word->first() == write.word ? RowResult::Confirmed : RowResult::Failed;
    }
    // Not heard at the new rate: as far as can be told the module kept its old one.
    if (row == baudRow && w.result != RowResult::Confirmed)
        m_engine.changeBaud(oldBaud);
    return w;
}

QVector<RowWrite> Commissioner::apply(int station, const QVector<RowDiff> &diffs,
                                      const std::function<void(const RowWrite &)> &each)
{
    const QVector<RowWrite> done = applyRows(station, diffs, each);
    m_cancelled = false;
    return done;
}

QVector<RowWrite> Commissioner::applyRows(int station, const QVector<RowDiff> &diffs,
                                          const std::function<void(const RowWrite &)> &each)
{
    QVector<RowWrite> done;
    for (const RowDiff &d : writeOrder(diffs)) {
        if (stopped() != ModuleFailure::None)
            break;
        RowWrite w = writeRow(station, d.row, d.writeText);
        w.diff = d;
        done.push_back(w);
        if (each)
            each(w);
    }
    return done;
}

ModuleReport Commissioner::commissionNext(int benchBaud, int address, const Template &t,
                                          const std::function<void(const RowWrite &)> &each)
{
    ModuleReport r = nextModule(benchBaud, address, t, each);
    m_cancelled = false;
    return r;
}

ModuleReport Commissioner::nextModule(int benchBaud, int address, const Template &t,
                                      const std::function<void(const RowWrite &)> &each)
{
    ModuleReport r;
    r.time = QDateTime::currentDateTime();
    r.askedAddress = address;
    const auto fail = [&r](ModuleFailure failure, const Outcome &outcome = {}) {
        r.failure = failure;
        r.failedOutcome = outcome;
        return r;
    };
    if ((m_engine.baud() != benchBaud || !m_engine.isOpen()) && !m_engine.changeBaud(benchBaud))
        return fail(ModuleFailure::PortNotOpened);
    const Outcome found = transact(Request::addressRead());
    if (!found.answered())
        return fail(found.kind == OutcomeKind::NoReply ? ModuleFailure::NoModule
                                                       : ModuleFailure::SeveralModules,
                    found);
    r.oldAddress = found.station;
    if (stopped() != ModuleFailure::None)
        return fail(stopped());
    if (r.oldAddress != address) {
        const Outcome changed = transact(Request::addressChange(r.oldAddress, address));
        if (!changed.answered())
            return fail(ModuleFailure::AddressChange, changed);
    }
    const Outcome confirmed = transact(probeRequest(address));
    if (!confirmed.answered())
        return fail(ModuleFailure::AddressConfirm, confirmed);
    r.newAddress = address;
    r.device = deviceText(address);
    if (stopped() != ModuleFailure::None)
        return fail(stopped());
    const auto words = readModule(address);
    if (const auto *failed = std::get_if<Outcome>(&words))
        return fail(ModuleFailure::ModuleRead, *failed);
    const QVector<RowDiff> diffs = differences(t, std::get<RegisterWords>(words));
    r.rows = applyRows(address, diffs, each);
    const bool rowsPassed = std::all_of(r.rows.begin(), r.rows.end(), [](const RowWrite &w) {
        return w.result == RowResult::Confirmed;
    });
    // Rows left unwritten (cancelled, line lost) fail the module too.
    r.passed = rowsPassed && r.rows.size() == writeOrder(diffs).size();
    if (!r.passed)
        r.failure = rowsPassed ? stopped() : ModuleFailure::RowsFailed;
    return r;
}

} // namespace kc
