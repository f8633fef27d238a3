#pragma once

#include <QDateTime>
#include <QStringList>
#include <QWidget>

#include <functional>

class QChart;
class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QTimer;
class QValueAxis;

namespace kc {

class MessageSink;
class TrendStore;
class TrendView;
struct TrendOrigin;

enum class TrendQuantity { Temperature, Humidity };

// What the legend calls a line, short enough that entries stay apart when the
// legend is crowded: "站3 ttyUSB0 温度". The station ("主动上传" for upload
// records), the port's short name (COM3; of a path or address its last part,
// without a scheme: "10.0.0.5:4001"), the quantity; the main window's own
// reads begin with "主窗口". The full port is in the entry's tooltip.
QString legendText(const TrendOrigin &origin, TrendQuantity quantity);

// "趋势图": temperature (left axis, solid lines) and humidity (right axis,
// dashed) of the modules ticked in the monitor, and of the main window's reads
// when asked, against time, with each module's alarm limits as dotted lines. The wheel zooms
// around the cursor, dragging pans, a double click goes back to following the
// newest minute, hour or day; the values nearest the cursor are shown below.
// Each line is drawn from its history decimated to the plot's width, so a
// redraw costs the same after a day of samples as after a minute.
class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    TrendWindow(TrendStore *store, MessageSink *messages, QWidget *parent = nullptr);
    ~TrendWindow() override;

    void setMonitorSources(const QStringList &keys);
    void setMainWindowShown(bool shown);
    // Keeps the newest spanMs in view; 0 stops following.
    void setFollow(qint64 spanMs);
    // Shows [from, to) (ms since the epoch) and stops following.
    void setRange(qint64 from, qint64 to);
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    void redraw();
    bool exportPng(const QString &path);
    QString cursorText() const;
    // Points drawn at the last redraw, over every line.
    qsizetype drawnPoints() const { return m_drawnPoints; }

private:
    struct Drawn;
    void rebuild(const QStringList &keys);
    QStringList wantedKeys() const;
    void tick();
    void zoom(double fraction, int steps);
    void pan(double fraction);
    void hover(double fraction);
    void exportClicked();
    void followChosen(int index);

    TrendStore *m_store;
    MessageSink *m_messages;
    std::function<QDateTime()> m_clock;
    QChart *m_chart;
    TrendView *m_view;
    QDateTimeAxis *m_time;
    QValueAxis *m_temperatureAxis;
    QValueAxis *m_humidityAxis;
    QComboBox *m_follow;
    QCheckBox *m_mainWindow;
    QLabel *m_cursor;
    QTimer *m_timer;
    QStringList m_monitorKeys;
    QVector<Drawn *> m_drawn;
    qint64 m_followMs = 60'000;
    qint64 m_from = 0;
    qint64 m_to = 0;
    quint64 m_drawnGeneration = ~0ull;
    qsizetype m_drawnPoints = 0;
};

} // namespace kc
