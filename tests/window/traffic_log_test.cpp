#include "support/MessageRecorder.h"
#include "support/QtPrint.h"
#include "ui/TrafficLogWindow.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using kc::TrafficEntry;
using Dir = kc::TrafficEntry::Direction;

namespace {

const QDateTime at(QDate(2026, 12, 7), QTime(10, 15, 2, 123));

// A delivery as the serial port hands it over: a few bytes in a large buffer.
QByteArray delivered(const char *hex)
{
    QByteArray bytes;
    bytes.reserve(65536);
    return bytes.append(QByteArray::fromHex(hex));
}

QStringList cells(const kc::TrafficLogModel &model, int row)
{
    QStringList texts;
    for (int c = 0; c < model.columnCount(); ++c)
        texts << model.index(row, c).data().toString();
    return texts;
}

} // namespace

// Each kind of line as a row of the table and as the line that is copied and saved.
TEST(TrafficLog, RowsShowEachKindOfLine)
{
    const struct
    {
        TrafficEntry entry;
        QStringList cells;
        QString line;
    } cases[] = {
        {{at, Dir::Sent, QByteArray::fromHex("01030000000F05CE"), {}, "COM1"},
         {"2026-12-07 10:15:02.123", "发送", "COM1", "", "01 03 00 00 00 0F 05 CE"},
         "2026-12-07 10:15:02.123  发送  COM1  01 03 00 00 00 0F 05 CE"},
        {{at, Dir::Received, delivered("0103020001"), {}, "/dev/ttyUSB0"},
         {"2026-12-07 10:15:02.123", "接收", "/dev/ttyUSB0", "", "01 03 02 00 01"},
         "2026-12-07 10:15:02.123  接收  /dev/ttyUSB0  01 03 02 00 01"},
        {{at, Dir::Note, {}, "应答正常 12.4 ms"},
         {"2026-12-07 10:15:02.123", "结果", "", "应答正常 12.4 ms", ""},
         "2026-12-07 10:15:02.123  结果  应答正常 12.4 ms"},
        {{at, Dir::Received, QByteArray(300, '\x11'), {}, "COM2"},
         {"2026-12-07 10:15:02.123", "接收", "COM2", "",
          QStringList(256, "11").join(' ') + " …(共 300 字节)"},
         "2026-12-07 10:15:02.123  接收  COM2  " + QStringList(256, "11").join(' ') +
             " …(共 300 字节)"},
    };
    kc::TrafficLog log;
    kc::TrafficLogModel model(log, nullptr);
    for (const auto &c : cases)
        log.add(c.entry);
    model.catchUp();
    ASSERT_EQ(model.rowCount(), int(std::size(cases)));
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(cells(model, row), cases[row].cells);
        const kc::TrafficLog::Row &kept = log.entries()[std::size_t(row)];
        EXPECT_EQ(kc::TrafficLog::line(kept), cases[row].line);
        // Not the buffer the bytes came in: a hundred thousand lines stay in memory.
        EXPECT_LE(kept.bytes.capacity(), kc::TrafficLog::bytesKept);
    }
}

// Past its capacity the log keeps the newest lines, oldest first. The table
// shows exactly those at each look; in between, a row the table still has
// reads as its own line or, once the log dropped it, as nothing.
TEST(TrafficLog, CapacityKeepsTheNewestInOrder)
{
    const struct
    {
        int before, after; // lines added before the table's first look, then before its second
        QStringList between, shown;
    } cases[] = {
        {2, 0, {"#1", "#2"}, {"#1", "#2"}},
        {2, 2, {"", "#2"}, {"#2", "#3", "#4"}},
        {3, 1, {"", "#2", "#3"}, {"#2", "#3", "#4"}},
        {2, 5, {"", ""}, {"#5", "#6", "#7"}},
        {6, 0, {"#4", "#5", "#6"}, {"#4", "#5", "#6"}},
    };
    for (const auto &c : cases) {
        kc::TrafficLog log(3);
        kc::TrafficLogModel model(log, nullptr);
        const auto rows = [&] {
            QStringList texts;
            for (int row = 0; row < model.rowCount(); ++row)
                texts << model.index(row, kc::TrafficLogModel::Outcome).data().toString();
            return texts;
        };
        int serial = 0;
        for (int i = 0; i < c.before; ++i)
            log.add({at, Dir::Note, {}, QStringLiteral("#%1").arg(++serial)});
        model.catchUp();
        for (int i = 0; i < c.after; ++i)
            log.add({at, Dir::Note, {}, QStringLiteral("#%1").arg(++serial)});
        EXPECT_EQ(rows(), c.between) << c.before << "+" << c.after;
        model.catchUp();
        EXPECT_EQ(rows(), c.shown) << c.before << "+" << c.after;
    }
}

struct ShownLog : ::testing::Test
{
    void SetUp() override
    {
        for (int i = 0; i < 4; ++i)
            window.record({at.addMSecs(i), Dir::Note, {}, QStringLiteral("#%1").arg(i), "COM1"});
        window.show();
        view = window.findChild<QTableView *>("trafficLines");
        ASSERT_NE(view, nullptr);
        window.activateWindow();
        view->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QString line(int row) const
    {
        return kc::TrafficLog::line(window.log().entries()[std::size_t(row)]);
    }

    MessageRecorder messages;
    kc::TrafficLogWindow window{&messages};
    QTableView *view = nullptr;
};

// Ctrl+C and the context menu's "复制" copy the selected lines, oldest first,
// as saved as text; with nothing selected the clipboard keeps what it had.
TEST_F(ShownLog, CopyTakesTheSelectedLines)
{
    const struct
    {
        QList<int> rows; // selected in this order
        bool byMenu;
        QString copied;
    } cases[] = {
        {{2, 0}, false, line(0) + "\n" + line(2) + "\n"},
        {{3}, true, line(3) + "\n"},
        {{}, false, "before"},
    };
    QAction *copy = nullptr;
    for (QAction *a : view->actions())
        copy = a->text() == "复制" ? a : copy;
    ASSERT_NE(copy, nullptr);
    for (const auto &c : cases) {
        QGuiApplication::clipboard()->setText("before");
        view->clearSelection();
        for (int row : c.rows)
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (c.byMenu)
            copy->trigger();
        else
            QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.copied);
    }
}

// A screen reader finds every row and reads each cell's text.
TEST_F(ShownLog, RowsAreReadableThroughAccessibility)
{
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(view);
    ASSERT_TRUE(table && table->tableInterface());
    ASSERT_EQ(table->tableInterface()->rowCount(), 4);
    QStringList read;
    for (int c = 0; c < table->tableInterface()->columnCount(); ++c)
        read << table->tableInterface()->cellAt(2, c)->text(QAccessible::Name);
    EXPECT_EQ(read, QStringList({"2026-12-07 10:15:02.125", "结果", "COM1", "#2", ""}));
}

// Reading at the end, the table follows new lines; scrolled back, the lines in
// sight stay in place as the oldest go, until they are gone themselves.
TEST(TrafficLogWindow, FollowsTheEndOnlyFromTheEnd)
{
    const struct
    {
        int top; // the first row in sight; -1: scrolled to the end
        int added;
        QString topLine; // or, from the end, the last line in sight
    } cases[] = {
        {-1, 20, "#69"},
        {10, 4, "#10"},
        {2, 4, "#4"},
    };
    for (const auto &c : cases) {
        MessageRecorder messages;
        kc::TrafficLogWindow window(&messages);
        window.setCapacity(50);
        int serial = 0;
        const auto add = [&](int lines) {
            for (int i = 0; i < lines; ++i)
                window.record({at, Dir::Note, {}, QStringLiteral("#%1").arg(serial++)});
        };
        add(50);
        window.resize(500, 300);
        window.show();
        auto *view = window.findChild<QTableView *>("trafficLines");
        QScrollBar *bar = view->verticalScrollBar();
        bar->setValue(c.top < 0 ? bar->maximum() : c.top);
        add(c.added);
        QMetaObject::invokeMethod(window.findChild<QTimer *>("trafficCatchUp"), "timeout");
        const int row = c.top < 0 ? view->rowAt(view->viewport()->height() - 1) : view->rowAt(0);
        EXPECT_EQ(view->model()->index(row, kc::TrafficLogModel::Outcome).data().toString(),
                  c.topLine)
            << c.top;
    }
}

// Saved as text, the lines as shown; as CSV, a header and the fields quoted
// where a spreadsheet needs it.
TEST(TrafficLog, SavesTextAndCsv)
{
    MessageRecorder messages;
    kc::TrafficLogWindow window(&messages);
    window.record({at, Dir::Sent, QByteArray::fromHex("0103"), {}, "tcp://host,1"});
    window.record({at, Dir::Note, {}, "站 \"5\", 无应答"});
    const struct
    {
        const char *name;
        QString saved;
    } cases[] = {
        {"log.txt", "2026-12-07 10:15:02.123  发送  tcp://host,1  01 03\n"
                    "2026-12-07 10:15:02.123  结果  站 \"5\", 无应答\n"},
        {"log.csv", "time,direction,port,bytes,outcome\n"
                    "2026-12-07 10:15:02.123,发送,\"tcp://host,1\",01 03,\n"
                    "2026-12-07 10:15:02.123,结果,,,\"站 \"\"5\"\", 无应答\"\n"},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        ASSERT_TRUE(window.saveTo(dir.filePath(c.name)));
        QFile file(dir.filePath(c.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
        EXPECT_EQ(QString::fromUtf8(file.readAll()), c.saved) << c.name;
    }
}
