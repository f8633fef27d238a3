#pragma once

#include "cli/CliOptions.h"
#include "operations/Outcomes.h"

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QTextStream>

#include <memory>

namespace kc {

class BusScan;
class LineEngine;

// Exit statuses, worst last.
namespace Exit {
constexpr int Ok = 0;
constexpr int Refused = 2; // an argument or value refused before anything was sent
constexpr int NoReply = 3;
constexpr int ModuleRefused = 4;
constexpr int BadReply = 5;
constexpr int Port = 6;
} // namespace Exit

int exitStatusOf(OutcomeKind kind);
// "answered", "refused", "bad_checksum", ...: the outcome's key in JSON output.
QString outcomeKey(OutcomeKind kind);

// Runs one command of kc4420-cli against the line and reports each result.
class CliRun : public QObject
{
    Q_OBJECT
public:
    CliRun(CliOptions options, QTextStream &out, QTextStream &err);
    ~CliRun() override;

    int run();
    // Ctrl+C: a running poll or upload log ends after the row in hand.
    void interrupt();

private:
    int ports();
    int read();
    int write();
    int address();
    int setAddress();
    int info();
    int poll();
    int uploads();
    int scan();
    int snapshot();
    int apply();

    int refuse(const QString &message);
    bool openLine();
    Outcome transact(const RequestPlan &plan);
    void report(QJsonObject result, const QString &text);
    QJsonObject outcomeJson(const Outcome &o) const;
    void printStats();
    bool openCsv(const QString &header);
    void csvRow(const QString &row);
    void waitMs(double ms);

    CliOptions m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    std::unique_ptr<LineEngine> m_engine;
    QFile m_csv;
    BusScan *m_scan = nullptr; // while a scan runs
    bool m_stop = false;
    int m_worst = Exit::Ok;
};

} // namespace kc
