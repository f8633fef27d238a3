#pragma once

#include "operations/Commissioning.h"

#include <functional>
#include <optional>
#include <variant>

namespace kc {

class LineEngine;

// One row written as the window's 设置 would (its rules and messages), then
// read back: its requests, one at a time, for whoever sends them. The
// baud-rate row is read back at the new rate, as the module listens at it from
// then on; when it is not heard there it is taken to have kept its old one.
class RowWriteSteps
{
public:
    struct Step
    {
        Request request;
        int baud; // the rate it goes at
    };

    // baud: the rate the module listens at before the write.
    RowWriteSteps(int station, int row, const QString &text, int baud);

    // The next request; nothing once done (at once for a value the rules refuse).
    std::optional<Step> next() const;
    // The outcome of the request next() gave.
    void take(const Outcome &outcome);
    const RowWrite &result() const { return m_write; }
    // The rate the module listens at, as far as can be told.
    int moduleBaud() const;

private:
    enum class Stage { Write, ReadBack, Done };

    RowWrite m_write;
    Request m_request; // the write
    int m_baud;
    Stage m_stage = Stage::Done;
};

// Reading a module, bringing it to a template, and giving new modules their
// addresses, one request at a time on the engine. Each call waits for its
// answers in the event loop, so a window stays live meanwhile.
class Commissioner
{
public:
    explicit Commissioner(LineEngine &engine) : m_engine(engine) {}

    // Stops the run under way after the request in hand.
    void cancel() { m_cancelled = true; }

    // Registers 0..14 of the module at station, or the outcome that kept them back.
    std::variant<RegisterWords, Outcome> readModule(int station);
    // The device-information text, empty when the module did not give it.
    QString deviceText(int station);
    std::variant<Snapshot, Outcome> snapshot(int station);

    // One row written as the window's 设置 would (its rules and messages), then
    // read back. The baud-rate row moves the line to the new rate and reads back
    // there, as the module listens at it from then on; when it is not heard
    // there, the line goes back to the old rate.
    RowWrite writeRow(int station, int row, const QString &text);

    // Writes the rows that differ, each as writeRow() does; a row whose write
    // or read-back fails is marked failed and the rest go on. The baud-rate row
    // goes last. each: after every row.
    QVector<RowWrite> apply(int station, const QVector<RowDiff> &diffs,
                            const std::function<void(const RowWrite &)> &each = {});

    // One module alone on the bench line at benchBaud: found by the
    // station-250 read, moved to address, confirmed there, brought to the
    // template. The report's newAddress is set once the module answered at it.
    ModuleReport commissionNext(int benchBaud, int address, const Template &t,
                                const std::function<void(const RowWrite &)> &each = {});

private:
    Outcome transact(const Request &request);
    ModuleReport nextModule(int benchBaud, int address, const Template &t,
                            const std::function<void(const RowWrite &)> &each);
    QVector<RowWrite> applyRows(int station, const QVector<RowDiff> &diffs,
                                const std::function<void(const RowWrite &)> &each);
    // Cancelled or the line lost: which, else None.
    ModuleFailure stopped() const;

    LineEngine &m_engine;
    bool m_cancelled = false;
};

} // namespace kc
