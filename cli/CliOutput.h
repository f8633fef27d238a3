#pragma once

#include "operations/Outcomes.h"

#include <QFile>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace kc {

// Exit statuses, worst last.
namespace Exit {
constexpr int Ok = 0;
constexpr int Refused = 2; // an argument or value refused before anything was sent
constexpr int NoReply = 3;
constexpr int ModuleRefused = 4;
constexpr int BadReply = 5;
constexpr int Port = 6;
constexpr int File = 7; // an output file took no more rows
} // namespace Exit

int exitStatusOf(OutcomeKind kind);

// Results on standard output: a line of text each, or one JSON object each.
class Output
{
public:
    Output(QTextStream &stream, bool json, QString command);

    void result(QJsonObject json, const QString &text);
    // The keys every request's result has.
    static QJsonObject outcomeJson(const Outcome &outcome);
    // The outcome in words, with what to do about a failure.
    static QString outcomeWords(const Outcome &outcome);

private:
    QTextStream &m_stream;
    bool m_json;
    QString m_command;
};

// Columns a text takes in a terminal: Chinese characters take two.
int displayWidth(const QString &text);
// The text padded with blanks to width columns (negative: on the left).
QString padded(const QString &text, int width);

// A CSV file written a whole row at a time and flushed at once, so a stop
// leaves only whole rows; a row the file does not take stops the command.
class CsvFile
{
public:
    bool isOpen() const { return m_file.isOpen(); }
    // Creates the file; false with error() saying why.
    bool open(const QString &path);
    bool write(const QStringList &fields);
    QString error() const;

private:
    QFile m_file;
};

} // namespace kc
