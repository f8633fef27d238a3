#pragma once

#include "protocol/AdapterEcho.h"

#include <QDialog>

class QComboBox;
class QSpinBox;

namespace kc {

// The response timeout, remembered between runs.
int storedResponseTimeout();
void storeResponseTimeout(int ms);
// What the adapter does with each request, remembered the same way.
EchoMode storedEchoMode();
void storeEchoMode(EchoMode mode);

// "通讯设置": the response timeout, 20 to 10000 ms, and the adapter's echo
// ("回显": 自动, 有, 无).
class CommSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    CommSettingsDialog(int timeoutMs, EchoMode echo, QWidget *parent = nullptr);
    int timeoutMs() const;
    EchoMode echoMode() const;

private:
    QSpinBox *m_timeout;
    QComboBox *m_echo;
};

} // namespace kc
