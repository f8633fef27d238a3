#pragma once

#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "support/ControlText.h"
#include "support/FakeLink.h"
#include "support/MessageRecorder.h"
#include "support/QtPrint.h"
#include "ui/MainWindow.h"

#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

// The real window over fake links and the message recorder, on a fixed clock.
struct WindowHarness
{
    explicit WindowHarness(QSet<QString> ports = {QStringLiteral("COM1")})
    {
        links.present = std::move(ports);
        claims = std::make_unique<kc::PortClaims>(links.factory());
        claims->setClock([this] { return now; });
        window = std::make_unique<kc::MainWindow>(claims.get(), &messages);
        window->setClock([] { return QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9)); });
        window->show();
    }

    // The link of the window's port, the newest made for it.
    FakeLink *link() const { return links.last(window->portName()); }

    template <typename T> T *find(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QString text(const QString &name) const { return controlText(window.get(), name); }

    // From now on the line waits in real time, as the tools do, and every link
    // made answers each frame written with reply's bytes (none if empty).
    void answer(std::function<QByteArray(FakeLink *, const QByteArray &frame)> reply)
    {
        claims->setClock(kc::LineEngine::monotonicClock());
        links.onMade = [reply](FakeLink *link) {
            link->onWrite = [link, reply](const QByteArray &frame) {
                const QByteArray bytes = reply(link, frame);
                if (!bytes.isEmpty())
                    QTimer::singleShot(0, link, [link, bytes] { link->deliver(bytes); });
            };
        };
    }
    // Chooses the menu entry that reads text.
    void menu(const QString &text)
    {
        for (QAction *a : window->menuBar()->findChildren<QAction *>()) {
            if (a->text() == text)
                return a->trigger();
        }
        ADD_FAILURE() << text.toStdString();
    }

    // The deadline of the request on the window's line passes.
    void deadline()
    {
        now += 10000;
        for (QObject *t : claims->findChildren<QObject *>(QStringLiteral("engineDeadline")))
            QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection);
    }

    // Steps separated by spaces: "box=text" types into a box, "list:index"
    // chooses in a list, "Timer2" is a tick of the poll timer, any other name
    // clicks that button.
    void act(const QString &steps)
    {
        for (const QString &s : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString name = s.section(QRegularExpression("[=:]"), 0, 0);
            if (s.contains(QLatin1Char('='))) {
                find<QLineEdit>(name)->clear();
                QTest::keyClicks(find<QLineEdit>(name), s.section('=', 1));
            } else if (s.contains(QLatin1Char(':'))) {
                find<QComboBox>(name)->setCurrentIndex(s.section(':', 1).toInt());
                emit find<QComboBox>(name)->activated(find<QComboBox>(name)->currentIndex());
            } else if (s == QLatin1String("Timer2")) {
                QMetaObject::invokeMethod(find<QTimer>(s), "timeout", Qt::DirectConnection);
            } else {
                QTest::mouseClick(find<QPushButton>(s), Qt::LeftButton);
            }
        }
    }
    // "name=text" entries separated by ';': what a control shows, or the lamp
    // in front ("lamp").
    void expect(const QString &entries) const
    {
        for (const QString &e : entries.split(QLatin1Char(';'))) {
            const QString name = e.section('=', 0, 0);
            const QString shown = name == QLatin1String("lamp") ? window->frontLamp() : text(name);
            EXPECT_EQ(shown, e.section('=', 1)) << name.toStdString();
        }
    }

    double now = 100;
    FakeLinks links;
    std::unique_ptr<kc::PortClaims> claims;
    MessageRecorder messages;
    std::unique_ptr<kc::MainWindow> window;
};
