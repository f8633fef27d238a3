#pragma once

#include <QString>

namespace kc {

// A CSV field as a spreadsheet reads it back: quoted when it holds a comma, a
// quote, a line break, or blanks at either end.
QString csvField(const QString &text);

} // namespace kc
