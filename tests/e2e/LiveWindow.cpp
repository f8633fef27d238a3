#include "e2e/LiveWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

LiveWindow::LiveWindow(const QString &com1Device)
{
    qputenv("KC4420_COM1", com1Device.toLocal8Bit());
    link = new kc::QtSerialLink;
    m_window = std::make_unique<kc::MainWindow>(link, &messages);
    // Connected after the window's own handler, so counts and checks see its result.
    QObject::connect(link, &kc::SerialLink::comm, m_window.get(), [this] {
        const int code = link->commEvent();
        if (code == kc::CommEventCode::Receive)
            ++receiveEvents;
        else if (code == kc::CommEventCode::LineLost)
            ++lineLostEvents;
        else
            ++otherEvents;
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

QString LiveWindow::text(const QString &name) const
{
    QObject *o = m_window->findChild<QObject *>(name);
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

long long LiveWindow::number(const QString &name) const
{
    bool ok = false;
    const long long value = text(name).toLongLong(&ok);
    return ok ? value : -1;
}

QStringList LiveWindow::valueTexts() const
{
    QStringList texts;
    for (int i = 0; i < 15; ++i)
        texts << text(QStringLiteral("txtValue_%1").arg(i));
    return texts;
}

void LiveWindow::type(const QString &box, const QString &text)
{
    auto *e = find<QLineEdit>(box);
    ASSERT_NE(e, nullptr) << box.toStdString();
    e->clear();
    QTest::keyClicks(e, text);
}

void LiveWindow::click(const QString &button)
{
    auto *b = find<QPushButton>(button);
    ASSERT_NE(b, nullptr) << button.toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
}
