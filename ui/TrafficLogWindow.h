#pragma once

#include "operations/TrafficLog.h"

#include <QAbstractListModel>
#include <QWidget>

class QListView;
class QPushButton;

namespace kc {

class MessageSink;

// The log's lines for a list view that lays out only the rows in sight, so a
// line costs the same with one line held or a hundred thousand.
class TrafficLogModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    void add(const TrafficEntry &entry);
    void clear();
    const TrafficLog &log() const { return m_log; }

private:
    TrafficLog m_log;
};

// "通讯记录": every frame sent and received, with its time and outcome. It
// records while hidden, so opening it shows what happened before.
class TrafficLogWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficLogWindow(MessageSink *messages, QWidget *parent = nullptr);

    void record(const TrafficEntry &entry);
    const TrafficLog &log() const { return m_model.log(); }
    bool paused() const { return m_paused; }
    // A name ending in ".csv" gets CSV rows, any other plain lines.
    bool saveTo(const QString &path);

private:
    void togglePause();
    void saveClicked();

    MessageSink *m_messages;
    TrafficLogModel m_model;
    bool m_paused = false;
    QListView *m_view;
    QPushButton *m_pauseButton;
};

} // namespace kc
