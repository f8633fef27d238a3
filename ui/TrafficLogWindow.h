#pragma once

#include "operations/TrafficLog.h"

#include <QAbstractTableModel>
#include <QWidget>

class QPushButton;
class QTimer;
class QTableView;

namespace kc {

class MessageSink;

// The log's lines as a table, read from the log itself. Views learn of lines
// added and dropped only at catchUp(): a row is addressed by the number the
// log gave its line, so the rows the views know stay right while the log
// moves on between two catch-ups.
class TrafficLogModel : public QAbstractTableModel
{
public:
    // The outcome before the bytes: a frame may be hundreds of characters wide,
    // and an outcome after it would be out of sight.
    enum Column { Time, Direction, Port, Outcome, Bytes, ColumnCount };

    TrafficLogModel(const TrafficLog &log, QObject *parent);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the views what the log dropped and gained since the last call;
    // returns how many of their first rows went.
    int catchUp();
    // The line at `row`, or none when the log dropped it since the last catch-up.
    const TrafficLog::Row *rowAt(int row) const;

private:
    const TrafficLog &m_log;
    qint64 m_first = 0; // the log's number for row 0
    int m_count = 0;
};

// "通讯记录": every frame sent and received, with its time, line and outcome.
// It records while hidden, so opening it shows what happened before.
class TrafficLogWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficLogWindow(MessageSink *messages, QWidget *parent = nullptr);
    ~TrafficLogWindow() override;

    void record(const TrafficEntry &entry);
    // See TrafficLog::setCapacity.
    void setCapacity(int capacity);
    const TrafficLog &log() const { return m_log; }
    bool paused() const { return m_paused; }
    // A name ending in ".csv" gets CSV rows, any other plain lines.
    bool saveTo(const QString &path);
    // The selected rows as saved as text, oldest first, onto the clipboard.
    void copySelection();

signals:
    // "监听": the operator wants to listen to the line without sending.
    void listenWanted();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void catchUp();
    void widenToVisibleRows();
    void togglePause();
    void clearAll();
    void saveClicked();

    MessageSink *m_messages;
    TrafficLog m_log;
    bool m_paused = false;
    bool m_catchingUp = false;
    TrafficLogModel *m_model;
    QTableView *m_view;
    QPushButton *m_pauseButton;
    // Lines come in bursts of thousands a second; the table catches up with
    // them a few times a second, not once a line.
    QTimer *m_catchUpTimer;
};

} // namespace kc
