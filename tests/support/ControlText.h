#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

// What a named box, label or list of the window shows.
inline QString controlText(const QObject *window, const QString &name)
{
    QObject *o = window->findChild<QObject *>(name);
    if (auto *e = qobject_cast<QLineEdit *>(o))
        return e->text();
    if (auto *t = qobject_cast<QPlainTextEdit *>(o))
        return t->toPlainText();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *c = qobject_cast<QComboBox *>(o))
        return c->currentText();
    ADD_FAILURE() << "no text control " << name.toStdString();
    return {};
}
