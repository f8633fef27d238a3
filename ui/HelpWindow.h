#pragma once

#include <QString>

class QWidget;

namespace kc {

// README.md as the package installs it beside the program, or the clone's when
// the program runs from its build; empty when neither is there.
QString readmePath();

// "帮助" → "使用说明": the README, rendered, its pictures beside it.
void showHelp(QWidget *parent);

} // namespace kc
