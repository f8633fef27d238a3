#pragma once

#include <QPushButton>
#include <QString>

namespace kc {

// A button of a tool window with its object name, as tests find it.
inline QPushButton *namedButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace kc
