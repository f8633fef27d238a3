#include "line/Commissioner.h"

#include "line/LineEngine.h"
#include "operations/Replies.h"
#include "operations/Scan.h"
#include "protocol/SerialLink.h"

#include <algorithm>
#include <optional>

namespace kc {

namespace {

constexpr int baudRow = 12;

RequestPlan readPlan(int station, int start, int count)
{
    return std::get<RequestPlan>(
        planRegisterRead({QString::number(station), QStringLiteral("3"), QString::number(start),
                          QString::number(count)}));
}

// The words of an answered read of count registers; nothing when the reply
// carries another number of them.
std::optional<QVector<std::uint16_t>> replyWords(const Outcome &o, int count)
{
    if (o.kind != OutcomeKind::Answered || o.frame.size() < 5 + 2 * count ||
        std::uint8_t(o.frame[2]) != 2 * count)
        return std::nullopt;
    QVector<std::uint16_t> words;
    for (int i = 0; i < count; ++i)
        words.push_back(std::uint16_t(std::uint8_t(o.frame[3 + 2 * i]) << 8 |
                                      std::uint8_t(o.frame[4 + 2 * i])));
    return words;
}

} // namespace

Outcome Commissioner::transact(const RequestPlan &plan)
{
    return m_engine.transact(plan);
}

std::variant<RegisterWords, Outcome> Commissioner::readModule(int station)
{
    Outcome o = transact(readPlan(station, 0, registerCount));
    const auto words = replyWords(o, registerCount);
    if (!words) {
        // An answer with fewer registers than asked is as good as none.
        if (o.kind == OutcomeKind::Answered)
            o.kind = OutcomeKind::Incomplete;
        return o;
    }
    RegisterWords all{};
    std::copy(words->begin(), words->end(), all.begin());
    return all;
}

QString Commissioner::deviceText(int station)
{
    const Outcome o = transact(std::get<RequestPlan>(planDeviceInfo(QString::number(station))));
    return o.kind == OutcomeKind::Answered ? deviceInfoText(o.frame) : QString();
}

std::variant<Snapshot, Outcome> Commissioner::snapshot(int station)
{
    const auto words = readModule(station);
    if (const auto *failed = std::get_if<Outcome>(&words))
        return *failed;
    return snapshotOf(QDateTime::currentDateTime(), m_engine.baud(), station, deviceText(station),
                      std::get<RegisterWords>(words));
}

QString Commissioner::stopped() const
{
    return m_engine.lost() ? msg::portLost : m_cancelled ? msg::cancelled : QString();
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
        if (!stopped().isEmpty())
            break;
        RowWrite w(d, RowResult::Failed);
        // The same rules and messages as the window's 设置.
        const Planned planned =
            planParameterWrite(d.row - firstWritable, d.writeText, QString::number(station));
        if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
            w.refusal = refusal->text;
        } else {
            w.outcome = transact(std::get<RequestPlan>(planned));
            w.written = w.outcome.kind == OutcomeKind::Answered;
        }
        const int oldBaud = m_engine.baud();
        // The module answers the write at its old rate and listens at the new one after.
        if (w.written && d.row == baudRow)
            m_engine.changeBaud(d.word);
        if (w.written) {
            w.outcome = transact(readPlan(station, d.row, 1));
            if (const auto word = replyWords(w.outcome, 1)) {
                w.readBack = decodeWord(d.row, word->first());
                w.result = word->first() == d.word ? RowResult::Confirmed : RowResult::Failed;
            }
        }
        // Not heard at the new rate: as far as can be told the module kept its old one.
        if (d.row == baudRow && w.written && w.result != RowResult::Confirmed)
            m_engine.changeBaud(oldBaud);
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
    if ((m_engine.baud() != benchBaud || !m_engine.link()->isOpen()) &&
        !m_engine.changeBaud(benchBaud)) {
        r.note = msg::portBusy;
        return r;
    }
    const Outcome found = transact(planAddressRead());
    if (found.kind != OutcomeKind::Answered) {
        r.note = found.kind == OutcomeKind::NoReply ? msg::noModule
                                                    : msg::severalModules + outcomeText(found);
        return r;
    }
    r.oldAddress = found.station;
    if (!(r.note = stopped()).isEmpty())
        return r;
    if (r.oldAddress != address) {
        const Planned change =
            planAddressChange(QString::number(r.oldAddress), QString::number(address));
        if (const auto *refusal = std::get_if<UserMessage>(&change)) {
            r.note = refusal->text;
            return r;
        }
        const Outcome changed = transact(std::get<RequestPlan>(change));
        if (changed.kind != OutcomeKind::Answered) {
            r.note = msg::addressChangeFailed + outcomeText(changed);
            return r;
        }
    }
    const Outcome confirmed = transact(planProbe(address));
    if (confirmed.kind != OutcomeKind::Answered) {
        r.note = msg::addressConfirmFailed.arg(address) + outcomeText(confirmed);
        return r;
    }
    r.newAddress = address;
    r.device = deviceText(address);
    if (!(r.note = stopped()).isEmpty())
        return r;
    const auto words = readModule(address);
    if (const auto *failed = std::get_if<Outcome>(&words)) {
        r.note = msg::moduleReadFailed + outcomeText(*failed);
        return r;
    }
    const QVector<RowDiff> diffs = differences(t, std::get<RegisterWords>(words));
    r.rows = applyRows(address, diffs, each);
    const bool rowsPassed = std::all_of(r.rows.begin(), r.rows.end(), [](const RowWrite &w) {
        return w.result == RowResult::Confirmed;
    });
    // Rows left unwritten (cancelled, line lost) fail the module too.
    r.passed = rowsPassed && r.rows.size() == writeOrder(diffs).size();
    if (!r.passed)
        r.note = rowsPassed ? stopped() : msg::rowsFailed;
    return r;
}

} // namespace kc
