#pragma once

#include "operations/Snapshot.h"

#include <QDialog>

class QCheckBox;
class QTableWidget;

namespace kc {

class MainWindow;
class MessageSink;

// The module's rows as read, saved as a snapshot, or with "保存为模板" as a
// template of the writable rows ticked.
class SnapshotDialog : public QDialog
{
    Q_OBJECT
public:
    SnapshotDialog(const Snapshot &snapshot, MessageSink *messages, QWidget *parent = nullptr);

    // Writes the file whole or not at all; false after saying why.
    bool saveTo(const QString &path);

private:
    void saveClicked();

    Snapshot m_snapshot;
    MessageSink *m_messages;
    QCheckBox *m_asTemplate;
    QTableWidget *m_table;
};

// "保存模块快照": the module at the main window's station read at its rate,
// then the dialog.
void saveModuleSnapshot(MainWindow *main, MessageSink *messages);

} // namespace kc
