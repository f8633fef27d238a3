#include "e2e/LiveWindow.h"

#include "e2e/E2eSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

LiveWindow::LiveWindow(const QString &com1Device)
{
    // An empty name would let the window fall back to a real port of this machine.
    qputenv("KC4420_COM1", com1Device.isEmpty() ? "/nonexistent" : com1Device.toLocal8Bit());
    link = new kc::QtSerialLink;
    m_window = std::make_unique<kc::MainWindow>(link, &messages);
    // Connected after the window's own handler, so counts and checks see its result.
    QObject::connect(link, &kc::SerialLink::comm, m_window.get(), [this] {
        const int code = link->commEvent();
        ++(code == kc::CommEventCode::Receive    ? receiveEvents
           : code == kc::CommEventCode::LineLost ? lineLostEvents
                                                 : otherEvents);
        if (afterEvent)
            afterEvent(code);
    });
    m_window->show();
}

LiveWindow::~LiveWindow()
{
    m_window.reset();
    qunsetenv("KC4420_COM1");
}

QStringList LiveWindow::valueTexts() const
{
    QStringList texts;
    for (int i = 0; i < 15; ++i)
        texts << text(valueBox(i));
    return texts;
}

void LiveWindow::type(const QString &box, const QString &text)
{
    auto *e = m_window->findChild<QLineEdit *>(box);
    ASSERT_NE(e, nullptr) << box.toStdString();
    e->clear();
    QTest::keyClicks(e, text);
}

void LiveWindow::click(const QString &button)
{
    auto *b = m_window->findChild<QPushButton *>(button);
    ASSERT_NE(b, nullptr) << button.toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
}

bool LiveWindow::request(const QString &button)
{
    const int before = allEvents();
    click(button);
    return pumpUntil([&] { return allEvents() > before; });
}
