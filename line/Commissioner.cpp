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
    return m_engine.lost() ? ModuleFailure::PortLost
           : m_cancelled   ? ModuleFailure::Cancelled
                           : ModuleFailure::None;
}

RowWriteSteps::RowWriteSteps(int station, int row, const QString &text, int baud)
    : m_write(RowDiff{row, {}, {}, text, 0, true}, RowResult::Failed), m_baud(baud)
{
    const Planned planned = planParameterWrite(row - firstWritable, text, QString::number(station));
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        m_write.refusal = refusal->text;
        return;
    }
    m_request = std::get<Request>(planned);
    m_write.diff.word = m_request.word;
    m_stage = Stage::Write;
}

std::optional<RowWriteSteps::Step> RowWriteSteps::next() const
{
    switch (m_stage) {
    case Stage::Write:
        return Step{m_request, m_baud};
    case Stage::ReadBack:
        // The module answers the write at its old rate and listens at the new one after.
        return Step{Request::registerRead(m_request.station, m_request.row, 1),
                    m_request.row == baudRow ? int(m_request.word) : m_baud};
    case Stage::Done:
        break;
    }
    return std::nullopt;
}

void RowWriteSteps::take(const Outcome &outcome)
{
    m_write.outcome = outcome;
    if (m_stage == Stage::Write) {
        m_write.writeOutcome = outcome;
        m_write.written = outcome.answered();
        m_stage = m_write.written ? Stage::ReadBack : Stage::Done;
        return;
    }
    if (const auto word = replyWords(outcome, 1)) {
        m_write.readBack = decodeWord(m_request.row, word->first());
        m_write.result = word->first() == m_request.word ? RowResult::Confirmed : RowResult::Failed;
    }
    m_stage = Stage::Done;
}

int RowWriteSteps::moduleBaud() const
{
    // Not heard at the new rate: as far as can be told the module kept its old one.
    return m_request.row == baudRow && m_write.result == RowResult::Confirmed ? int(m_request.word)
                                                                              : m_baud;
}

RowWrite Commissioner::writeRow(int station, int row, const QString &text)
{
    RowWriteSteps steps(station, row, text, m_engine.baud());
    while (const auto step = steps.next()) {
        if (m_engine.baud() != step->baud)
            m_engine.changeBaud(step->baud);
        steps.take(transact(step->request));
    }
    if (m_engine.baud() != steps.moduleBaud())
        m_engine.changeBaud(steps.moduleBaud());
    return steps.result();
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
