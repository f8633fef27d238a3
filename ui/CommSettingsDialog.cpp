#include "ui/CommSettingsDialog.h"

#include "operations/Outcomes.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSettings>
#include <QSpinBox>

#include <algorithm>
#include <iterator>

namespace kc {

namespace {
const QString timeoutKey = QStringLiteral("comm/responseTimeoutMs");
const QString echoKey = QStringLiteral("comm/echo");
// In the list's order.
constexpr EchoMode echoModes[] = {EchoMode::Auto, EchoMode::On, EchoMode::Off};
} // namespace

int storedResponseTimeout()
{
    const int ms = QSettings().value(timeoutKey, defaultTimeoutMs).toInt();
    return ms >= minTimeoutMs && ms <= maxTimeoutMs ? ms : defaultTimeoutMs;
}

void storeResponseTimeout(int ms)
{
    QSettings().setValue(timeoutKey, ms);
}

EchoMode storedEchoMode()
{
    return echoModeFromKey(QSettings().value(echoKey).toString()).value_or(EchoMode::Auto);
}

void storeEchoMode(EchoMode mode)
{
    QSettings().setValue(echoKey, echoModeKey(mode));
}

CommSettingsDialog::CommSettingsDialog(int timeoutMs, EchoMode echo, QWidget *parent)
    : QDialog(parent), m_timeout(new QSpinBox(this)), m_echo(new QComboBox(this))
{
    setObjectName(QStringLiteral("commSettings"));
    setWindowTitle(QStringLiteral("通讯设置"));
    m_timeout->setObjectName(QStringLiteral("responseTimeout"));
    m_timeout->setRange(minTimeoutMs, maxTimeoutMs);
    m_timeout->setSuffix(QStringLiteral(" ms"));
    m_timeout->setValue(timeoutMs);
    m_timeout->setAccessibleName(QStringLiteral("应答超时"));
    m_echo->setObjectName(QStringLiteral("adapterEcho"));
    m_echo->addItems({QStringLiteral("自动"), QStringLiteral("有"), QStringLiteral("无")});
    m_echo->setCurrentIndex(
        int(std::find(std::begin(echoModes), std::end(echoModes), echo) - std::begin(echoModes)));
    m_echo->setAccessibleName(QStringLiteral("回显"));
    m_echo->setToolTip(QStringLiteral("适配器是否把发出的请求送回：自动识别、总是送回、从不送回"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("应答超时"), m_timeout);
    form->addRow(QStringLiteral("回显"), m_echo);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int CommSettingsDialog::timeoutMs() const
{
    return m_timeout->value();
}

EchoMode CommSettingsDialog::echoMode() const
{
    return echoModes[m_echo->currentIndex()];
}

} // namespace kc
