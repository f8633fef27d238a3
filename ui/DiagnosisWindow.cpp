#include "ui/DiagnosisWindow.h"

#include "line/Diagnosis.h"
#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "operations/RegisterMap.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/ToolControls.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSaveFile>
#include <QVBoxLayout>

namespace kc {

DiagnosisWindow::DiagnosisWindow(MainWindow *main, MessageSink *messages)
    : QDialog(main), m_main(main), m_messages(messages), m_station(new QLineEdit(this)),
      m_allRates(new QCheckBox(QStringLiteral("全部波特率"), this)),
      m_start(namedButton(this, "diagnosisStart", QStringLiteral("开始诊断"))),
      m_cancel(namedButton(this, "diagnosisCancel", QStringLiteral("取消"))),
      m_save(namedButton(this, "diagnosisSave", QStringLiteral("保存报告..."))),
      m_bar(new QProgressBar(this)), m_progressText(new QLabel(this)),
      m_report(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("diagnosis"));
    setWindowTitle(QStringLiteral("线路诊断"));
    resize(680, 480);
    m_station->setObjectName(QStringLiteral("diagnosisStation"));
    m_station->setAccessibleName(QStringLiteral("站号"));
    m_allRates->setObjectName(QStringLiteral("diagnosisAllRates"));
    m_allRates->setToolTip(QStringLiteral("在串口波特率之外，也在模块可设的其他波特率下探测"));
    m_bar->setObjectName(QStringLiteral("diagnosisProgress"));
    m_progressText->setObjectName(QStringLiteral("diagnosisProgressText"));
    m_report->setObjectName(QStringLiteral("diagnosisReport"));
    m_report->setReadOnly(true);
    m_report->setAccessibleName(QStringLiteral("诊断报告"));
    m_cancel->setEnabled(false);
    m_save->setEnabled(false);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("站号"), m_station);
    form->addRow(QString(), m_allRates);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_bar);
    layout->addWidget(m_progressText);
    layout->addWidget(m_report);

    connect(m_start, &QPushButton::clicked, this, &DiagnosisWindow::start);
    connect(m_cancel, &QPushButton::clicked, this, &DiagnosisWindow::cancel);
    connect(m_save, &QPushButton::clicked, this, &DiagnosisWindow::saveClicked);
}

void DiagnosisWindow::start()
{
    const Planned planned = planRegisterRead({m_station->text(), QStringLiteral("3"),
                                              QStringLiteral("0"), QString::number(registerCount)});
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return m_messages->show(this, *refusal);
    const int station = std::get<Request>(planned).station;
    if (station == 0)
        return m_messages->show(this, UserMessage{msg::broadcastStation});
    m_engine = takeMainPort(m_main, Holder::Diagnosis, this, m_messages, this);
    if (!m_engine)
        return;
    m_report->clear();
    m_diagnosis = new LineDiagnosis(m_engine, station, m_allRates->isChecked(), this);
    connect(m_diagnosis, &LineDiagnosis::progress, this, &DiagnosisWindow::showProgress);
    connect(m_diagnosis, &LineDiagnosis::finished, this, &DiagnosisWindow::finished);
    m_start->setEnabled(false);
    m_cancel->setEnabled(true);
    m_save->setEnabled(false);
    m_diagnosis->start();
}

void DiagnosisWindow::cancel()
{
    if (m_diagnosis)
        m_diagnosis->cancel();
}

void DiagnosisWindow::showProgress(int done, int total, double msLeft)
{
    m_bar->setRange(0, total);
    m_bar->setValue(done);
    m_progressText->setText(diagnosisProgressText(done, total, msLeft));
}

void DiagnosisWindow::finished(ScanEnd end)
{
    const DiagnosisReport report = m_diagnosis->report();
    const QString error = portFailureText(end, m_main->portName(), m_engine->link()->device(),
                                          m_engine->link()->lastFailure());
    m_diagnosis->deleteLater();
    m_diagnosis = nullptr;
    m_main->portClaims()->release(std::exchange(m_engine, nullptr));
    m_start->setEnabled(true);
    m_cancel->setEnabled(false);
    m_bar->setValue(m_bar->maximum());
    m_progressText->setText(!error.isEmpty()            ? error
                            : end == ScanEnd::Cancelled ? msg::cancelled
                                                        : QStringLiteral("诊断完成"));
    m_report->setPlainText(diagnosisReportText(report));
    m_save->setEnabled(true);
    if (!error.isEmpty())
        m_messages->show(this, UserMessage{error, msg::errorTitle, true});
}

void DiagnosisWindow::setStation(const QString &text)
{
    m_station->setText(text);
}

QString DiagnosisWindow::reportText() const
{
    return m_report->toPlainText();
}

bool DiagnosisWindow::saveTo(const QString &path)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Text) &&
           file.write(reportText().toUtf8()) >= 0 && file.commit();
}

void DiagnosisWindow::saveClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存诊断报告"),
                                                      QStringLiteral("线路诊断.txt"),
                                                      QStringLiteral("文本文件 (*.txt)"));
    if (!path.isEmpty() && !saveTo(path))
        m_messages->show(this, UserMessage{msg::fileUnwritable + path, msg::errorTitle, true});
}

void DiagnosisWindow::done(int result)
{
    cancel();
    QDialog::done(result);
}

void showDiagnosis(MainWindow *main, MessageSink *messages)
{
    auto *window = main->findChild<DiagnosisWindow *>();
    if (!window)
        window = new DiagnosisWindow(main, messages);
    if (!window->running())
        window->setStation(main->stationText());
    window->show();
    window->raise();
}

} // namespace kc
