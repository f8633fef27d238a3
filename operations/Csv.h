#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>

namespace kc {

// A CSV field as a spreadsheet reads it back: quoted when it holds a comma, a
// quote, a line break, or blanks at either end.
QString csvField(const QString &text);

// The files the tool appends to grow by whole lines only, each given to the
// system in one write, so neither a crash nor a full disk leaves half a line
// for the next one to run into.

// Opens path (set on file) for appending lines. An empty file gets header; a
// last line cut short (a pulled plug) is ended first. False when the file
// cannot be opened (file is then closed) or the header or line end not written.
bool openLines(QFile &file, const QByteArray &header);
// Appends bytes in one write, then runs toDisk if given (to put the file on the
// disk). On any failure the file is cut back to where it was and false returned.
bool appendWhole(QFile &file, const QByteArray &bytes, const std::function<bool()> &toDisk = {});
// Asks the system to put what was written to the file on the disk.
bool putOnDisk(QFile &file);

} // namespace kc
