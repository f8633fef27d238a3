#pragma once

#include "operations/RegisterMap.h"
#include "protocol/AdapterEcho.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kc {

// What the command line asked for, checked by the same rules and messages as
// the window's boxes before anything is opened or sent.
struct CliOptions
{
    QString port = QStringLiteral("COM1");
    int baud = 9600;
    QString station = QStringLiteral("1"); // as typed: each request applies its own rule
    int timeoutMs = 1000;
    int retries = 0;
    EchoMode echo = EchoMode::Auto;
    bool json = false;
    bool trace = false;
    bool stats = false;
    QString command;
    QStringList arguments; // after the command
    QString start = QStringLiteral("0");
    QString count;        // read, poll: registers; empty: from start to the last row
    QString period;       // poll: empty when not given
    long long cycles = -1; // poll: -1 runs until stopped
    QString csv;          // poll, uploads
    double seconds = -1;  // uploads: -1 runs until stopped
    QString bauds;        // scan: empty tries every rate a module can have
    QString stations = QStringLiteral("1-247");                   // scan
    QString probeTimeout = QStringLiteral("100");                 // scan
    bool singleModule = false;                                    // scan
    QString templateRows; // snapshot: empty writes a snapshot, else these rows as a template
    bool allRates = false; // diagnose: every rate a module can have, not only --baud

    // The count box's text for a read: as given, or from start to the last row.
    QString registersToRead() const;
};

struct ParsedCli
{
    CliOptions options;
    QString error;    // the refusal, for standard error; empty when none
    QString helpText; // --help or no command
    bool version = false;
};

// argv as given (argv[0] the program). Qt Core must be running.
ParsedCli parseCli(const QStringList &argv);

// The help text, also the manual page's source.
QString cliHelp();

} // namespace kc
