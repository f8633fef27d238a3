#pragma once

#include "line/Monitor.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace kc {

class MessageSink;
class PortClaims;
class Recorder;

// A module's row in words: port, station, device text, temperature, humidity,
// alarm state, last outcome, response time, answered, no reply, errors, last seen.
QStringList rowTexts(const WatchedModule &module, std::optional<Holder> heldBy = {});

// "多模块监视": the modules of several ports in one table, polled while it
// runs, with the data log's switch and folder. Rows ticked in the first
// column are the ones the trend shows. The list and the settings are kept
// between runs.
class MonitorWindow : public QWidget
{
    Q_OBJECT
public:
    MonitorWindow(PortClaims *claims, Recorder *recorder, MessageSink *messages,
                  QWidget *parent = nullptr);
    ~MonitorWindow() override;

    Monitor *monitor() { return &m_monitor; }
    // The trend's keys of the ticked rows.
    QStringList picked() const;

signals:
    void pickedChanged(const QStringList &keys);
    void trendWanted();

private:
    void buildTable();
    void addClicked();
    void removeClicked();
    void openList();
    void saveList();
    void startClicked();
    void stopClicked();
    void logSwitched(bool on);
    void chooseFolder();
    void showRow(int row);
    void fillTable();
    void showRunning(bool running);
    void remember() const;
    void say(const UserMessage &message);

    Monitor m_monitor;
    Recorder *m_recorder;
    MessageSink *m_messages;
    QComboBox *m_port;
    QLineEdit *m_stations;
    QComboBox *m_baud;
    QPushButton *m_add;
    QPushButton *m_remove;
    QPushButton *m_open;
    QSpinBox *m_cycle;
    QPushButton *m_start;
    QPushButton *m_stop;
    QCheckBox *m_logSwitch;
    QLabel *m_folder;
    QSpinBox *m_fileMb;
    QTableWidget *m_table;
    QLabel *m_status;
};

} // namespace kc
