#pragma once

#include "operations/Scan.h"

#include <QDialog>
#include <QVector>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace kc {

class BusScan;
class LineEngine;
class MainWindow;
class MessageSink;

// "总线扫描": the rates, station range and probe timeout to scan with, the
// progress, and the modules found; "使用" hands one to the main window.
class BusScanWindow : public QDialog
{
    Q_OBJECT
public:
    BusScanWindow(MainWindow *main, MessageSink *messages);

    bool scanning() const { return m_scan != nullptr; }
    bool exportCsv(const QString &path);

    // The window goes; a scan stops after its probe in hand and gives the port back.
    void done(int result) override;
    // The rate boxes for the main window's port: off, with a note, on a network line.
    void followLine();

private:
    void start();
    void cancel();
    void showProgress(const ScanProgress &progress);
    void addRow(const FoundModule &module);
    void finished(ScanEnd end);
    void updateRow(int index, const FoundModule &module);
    void showRow(int row, const FoundModule &module);
    void showPort();
    void showEvent(QShowEvent *event) override;
    void exportClicked();
    void watchClicked();

    MainWindow *m_main;
    MessageSink *m_messages;
    LineEngine *m_engine = nullptr; // while a scan runs
    BusScan *m_scan = nullptr;
    QVector<FoundModule> m_found;
    QVector<QCheckBox *> m_bauds;
    QSpinBox *m_first;
    QSpinBox *m_last;
    QSpinBox *m_timeout;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_export;
    QPushButton *m_watch;
    QCheckBox *m_single;
    QLabel *m_networkNote;
    QProgressBar *m_bar;
    QLabel *m_progressText;
    QTableWidget *m_table;
    QLabel *m_port;
};

// The menu's "总线扫描": the one scan window, shown.
void showBusScan(MainWindow *main, MessageSink *messages);

} // namespace kc
