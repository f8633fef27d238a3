#pragma once

#include "support/ControlText.h"
#include "support/FakeSerialLink.h"
#include "support/MessageRecorder.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// The real window over the fake link and the message recorder.
struct WindowHarness
{
    explicit WindowHarness(QSet<int> ports = {1})
    {
        link = new FakeSerialLink;
        link->presentPorts = std::move(ports);
        window = std::make_unique<kc::MainWindow>(link, &messages);
        window->show();
    }

    template <typename T> T *find(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    QString text(const QString &name) const { return controlText(window.get(), name); }

    void type(const QString &box, const QString &text)
    {
        auto *e = find<QLineEdit>(box);
        e->clear();
        QTest::keyClicks(e, text);
    }

    void click(const QString &button)
    {
        QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton);
    }

    void choose(const QString &list, int index)
    {
        auto *c = find<QComboBox>(list);
        c->setCurrentIndex(index);
        emit c->activated(index);
    }

    void tick() { QMetaObject::invokeMethod(window->pollTimer(), "timeout", Qt::DirectConnection); }

    const kc::WindowState &state() const { return window->state(); }

    FakeSerialLink *link;
    MessageRecorder messages;
    std::unique_ptr<kc::MainWindow> window;
};

inline QByteArray hexBytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}
