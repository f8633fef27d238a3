#include "ui/SnapshotDialog.h"

#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/ToolControls.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kc {

SnapshotDialog::SnapshotDialog(const Snapshot &snapshot, MessageSink *messages, QWidget *parent)
    : QDialog(parent), m_snapshot(snapshot), m_messages(messages),
      m_asTemplate(new QCheckBox(QStringLiteral("保存为模板（只保留勾选的可写行）"), this)),
      m_table(new QTableWidget(0, 3, this))
{
    setObjectName(QStringLiteral("snapshotDialog"));
    setWindowTitle(QStringLiteral("保存模块快照"));
    resize(460, 520);
    m_asTemplate->setObjectName(QStringLiteral("snapshotAsTemplate"));
    m_table->setObjectName(QStringLiteral("snapshotRows"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("名称"), QStringLiteral("值"), QStringLiteral("原始值")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Whole captions ("5 温度报警上限"), however wide the desktop's font makes them.
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    for (const SnapshotRow &r : snapshot.rows) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        auto *name = new QTableWidgetItem(QString::fromUtf8(registerMap()[r.row].caption));
        if (r.row >= firstWritable) {
            name->setFlags(name->flags() | Qt::ItemIsUserCheckable);
            name->setCheckState(Qt::Checked);
        }
        m_table->setItem(row, 0, name);
        m_table->setItem(row, 1, new QTableWidgetItem(r.text));
        m_table->setItem(row, 2, new QTableWidgetItem(QString::number(r.raw)));
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("站 %1  %2  %3 波特")
                                     .arg(snapshot.station)
                                     .arg(snapshot.device)
                                     .arg(snapshot.baud),
                                 this));
    layout->addWidget(m_table);
    layout->addWidget(m_asTemplate);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SnapshotDialog::saveClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool SnapshotDialog::saveTo(const QString &path)
{
    Snapshot s = m_snapshot;
    if (m_asTemplate->isChecked()) {
        QList<int> rows;
        for (int i = 0; i < m_table->rowCount(); ++i) {
            if (m_table->item(i, 0)->checkState() == Qt::Checked)
                rows << m_snapshot.rows[i].row;
        }
        s = templateOf(m_snapshot, rows);
        if (s.rows.isEmpty()) {
            m_messages->show(this, UserMessage{msg::fileNoRows});
            return false;
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(snapshotJson(s)) < 0 || !file.commit()) {
        m_messages->show(this, UserMessage{msg::fileUnwritable + path, msg::errorTitle, true});
        return false;
    }
    return true;
}

void SnapshotDialog::saveClicked()
{
    const QString path =
        QFileDialog::getSaveFileName(this, windowTitle(), QString(),
                                     m_asTemplate->isChecked() ? QStringLiteral("模板 (*.json)")
                                                               : QStringLiteral("快照 (*.json)"));
    if (!path.isEmpty() && saveTo(path))
        accept();
}

void saveModuleSnapshot(MainWindow *main, MessageSink *messages)
{
    const auto station = writeStation(main->stationText());
    if (!station) {
        messages->show(main, UserMessage{msg::badStation});
        return;
    }
    LineEngine *engine = takeMainPort(main, Holder::Snapshot, main, messages, main);
    if (!engine)
        return;
    const auto read = Commissioner(*engine).snapshot(*station);
    main->portClaims()->release(engine);
    if (const auto *failed = std::get_if<Outcome>(&read)) {
        messages->show(main, UserMessage{msg::moduleReadFailed + outcomeText(*failed)});
        return;
    }
    SnapshotDialog dialog(std::get<Snapshot>(read), messages, main);
    dialog.exec();
}

} // namespace kc
