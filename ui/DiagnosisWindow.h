#pragma once

#include "operations/Scan.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kc {

class LineDiagnosis;
class LineEngine;
class MainWindow;
class MessageSink;

// "线路诊断": a short battery against the module at the station box, on the
// main window's port and rate (or every rate), then what is wrong with the
// line, the evidence and what to do; the report can be saved as text.
class DiagnosisWindow : public QDialog
{
    Q_OBJECT
public:
    DiagnosisWindow(MainWindow *main, MessageSink *messages);

    bool running() const { return m_diagnosis != nullptr; }
    void setStation(const QString &text);
    QString reportText() const;
    bool saveTo(const QString &path);
    // The window goes; a diagnosis stops after its probe in hand and gives
    // the port back.
    void done(int result) override;

private:
    void start();
    void cancel();
    void showProgress(int done, int total, double msLeft);
    void finished(ScanEnd end);
    void saveClicked();

    MainWindow *m_main;
    MessageSink *m_messages;
    LineEngine *m_engine = nullptr; // while a diagnosis runs
    LineDiagnosis *m_diagnosis = nullptr;
    QLineEdit *m_station;
    QCheckBox *m_allRates;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_save;
    QProgressBar *m_bar;
    QLabel *m_progressText;
    QPlainTextEdit *m_report;
};

// The menu's "线路诊断": the one diagnosis window, shown, its station box
// filled from the main window's.
void showDiagnosis(MainWindow *main, MessageSink *messages);

} // namespace kc
