#include "e2e/LiveWindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

bool pumpUntil(const std::function<bool()> &done, int deadlineMs)
{
    QDeadlineTimer deadline(deadlineMs);
    // Wakes the loop when nothing else happens, so done() is looked at often.
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

LiveWindow::LiveWindow(const QString &device)
{
    // An empty name would let the window fall back to a real port of this machine.
    qputenv("KC4420_COM1", device.isEmpty() ? "/nonexistent" : device.toLocal8Bit());
    window = std::make_unique<kc::MainWindow>(link, &messages);
    window->show();
}

LiveWindow::~LiveWindow()
{
    window.reset();
    qunsetenv("KC4420_COM1");
}

QString LiveWindow::values() const
{
    QStringList texts;
    for (int i = 0; i < 15; ++i)
        texts << text(QStringLiteral("txtValue_%1").arg(i));
    return texts.join(QLatin1Char(' '));
}

void LiveWindow::type(const QString &box, const QString &text)
{
    auto *e = window->findChild<QLineEdit *>(box);
    ASSERT_NE(e, nullptr) << box.toStdString();
    e->clear();
    QTest::keyClicks(e, text);
}

void LiveWindow::click(const QString &button)
{
    auto *b = window->findChild<QPushButton *>(button);
    ASSERT_NE(b, nullptr) << button.toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
}

bool LiveWindow::request(const QString &button)
{
    const long long before = window->totals().sent;
    click(button);
    return pumpUntil([&] { return window->totals().sent > before; });
}
