#pragma once

#include <QDialog>

class QSpinBox;

namespace kc {

// The response timeout, remembered between runs.
int storedResponseTimeout();
void storeResponseTimeout(int ms);

// "通讯设置": the response timeout, 20 to 10000 ms.
class CommSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    CommSettingsDialog(int timeoutMs, QWidget *parent = nullptr);
    int timeoutMs() const;

private:
    QSpinBox *m_timeout;
};

} // namespace kc
