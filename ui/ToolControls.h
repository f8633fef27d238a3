#pragma once

#include "line/PortClaims.h"

#include <QPushButton>
#include <QString>

namespace kc {

class LineEngine;
class MainWindow;
class MessageSink;

// A button of a tool window with its object name, as tests find it.
inline QPushButton *namedButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// What the operator is told when asking for a port this holder has.
QString holderMessage(Holder holder);

// The main window's port for a tool, open at the operator's rate and response
// timeout; nullptr after telling the operator why not (another tool has it, or
// it would not open). Give it back with PortClaims::release().
LineEngine *takeMainPort(MainWindow *main, Holder holder, QObject *owner, MessageSink *messages,
                         QWidget *parent);

} // namespace kc
