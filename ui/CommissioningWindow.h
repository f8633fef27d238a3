#pragma once

#include "operations/Commissioning.h"

#include <QDialog>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace kc {

class Commissioner;
class LineEngine;
class MainWindow;
class MessageSink;

// "调试向导": a template against the connected module row by row, "写入差异",
// and address assignment with its report, one module after another. It holds
// the port from its first request until it closes.
class CommissioningWindow : public QDialog
{
    Q_OBJECT
public:
    CommissioningWindow(MainWindow *main, MessageSink *messages);
    ~CommissioningWindow() override;

    // Reads a template file; a refused one is said and nothing changes.
    bool loadTemplate(const QString &path);
    bool busy() const { return m_busy; }

    // Closing while a run is on stops it after the request in hand; the port
    // goes back once the wizard closes.
    void done(int result) override;

private:
    void loadClicked();
    void readModule();
    void writeDifferences();
    void chooseReport();
    void nextModule();
    void showDiffs();
    void showRow(const RowWrite &w);
    void showNextAddress();
    Commissioner *commissioner();
    void setBusy(bool busy);
    void say(const QString &text);

    MainWindow *m_main;
    MessageSink *m_messages;
    LineEngine *m_engine = nullptr; // the port, from the first request until closed
    std::unique_ptr<Commissioner> m_commissioner;
    std::optional<Template> m_template;
    QVector<RowDiff> m_diffs;
    ReportFile m_report;
    int m_benchBaud = 0; // the main window's rate when the wizard took the port
    int m_nextAddress = 1;
    bool m_busy = false;
    QLabel *m_templateName;
    QSpinBox *m_station;
    QTableWidget *m_table;
    QPushButton *m_load;
    QPushButton *m_read;
    QPushButton *m_write;
    QSpinBox *m_start;
    QSpinBox *m_step;
    QLabel *m_next;
    QPushButton *m_reportButton;
    QLabel *m_reportName;
    QPushButton *m_nextModule;
    QPushButton *m_cancel;
    QLabel *m_status;
};

// The menu's "调试向导": the one wizard, shown; with a path, its template loaded first.
void showCommissioning(MainWindow *main, MessageSink *messages, const QString &templatePath = {});
// "打开模板": a template chosen, then the wizard with it.
void openTemplate(MainWindow *main, MessageSink *messages);

} // namespace kc
