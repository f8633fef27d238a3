#include "e2e/LiveWindow.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

LiveWindow::LiveWindow(const QString &device)
{
    // An empty name would let the window fall back to a real port of this machine.
    qputenv("KC4420_COM1", device.isEmpty() ? "/nonexistent" : device.toLocal8Bit());
    window = std::make_unique<kc::MainWindow>(&claims, &messages);
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
