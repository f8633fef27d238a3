#include "ui/CommSettingsDialog.h"

#include "operations/Outcomes.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSettings>
#include <QSpinBox>

namespace kc {

namespace {
const QString timeoutKey = QStringLiteral("comm/responseTimeoutMs");
}

int storedResponseTimeout()
{
    const int ms = QSettings().value(timeoutKey, defaultTimeoutMs).toInt();
    return ms >= minTimeoutMs && ms <= maxTimeoutMs ? ms : defaultTimeoutMs;
}

void storeResponseTimeout(int ms)
{
    QSettings().setValue(timeoutKey, ms);
}

CommSettingsDialog::CommSettingsDialog(int timeoutMs, QWidget *parent)
    : QDialog(parent), m_timeout(new QSpinBox(this))
{
    setObjectName(QStringLiteral("commSettings"));
    setWindowTitle(QStringLiteral("通讯设置"));
    m_timeout->setObjectName(QStringLiteral("responseTimeout"));
    m_timeout->setRange(minTimeoutMs, maxTimeoutMs);
    m_timeout->setSuffix(QStringLiteral(" ms"));
    m_timeout->setValue(timeoutMs);
    m_timeout->setAccessibleName(QStringLiteral("应答超时"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("应答超时"), m_timeout);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int CommSettingsDialog::timeoutMs() const
{
    return m_timeout->value();
}

} // namespace kc
