#include "ui/TrendWindow.h"

#include "operations/RegisterMap.h"

#include "line/TrendHistory.h"
#include "ui/MessageSink.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace kc {

namespace {

constexpr int redrawEveryMs = 500;

const struct
{
    const char *caption;
    qint64 spanMs;
} followChoices[] = {
    {"不跟随", 0},
    {"跟随最近 1 分钟", 60'000},
    {"跟随最近 1 小时", 3'600'000},
    {"跟随最近 1 天", 86'400'000},
};

const QColor lineColours[] = {
    QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44),   QColor(148, 103, 189),
    QColor(255, 127, 14), QColor(140, 86, 75), QColor(227, 119, 194), QColor(23, 190, 207),
};

// The extent of what a redraw shows on one axis.
struct Span
{
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    void take(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    // Limits near the lines come into view; far ones would flatten the lines.
    void takeNear(const QVector<double> &levels)
    {
        if (low > high)
            return;
        const double reach = std::max(2.0, high - low);
        const double from = low - reach, to = high + reach;
        for (double v : levels) {
            if (v >= from && v <= to)
                take(v);
        }
    }
    void applyTo(QValueAxis *axis, double emptyLow, double emptyHigh) const
    {
        if (low > high) {
            axis->setRange(emptyLow, emptyHigh);
            return;
        }
        const double margin = std::max(0.5, (high - low) * 0.08);
        axis->setRange(std::floor(low - margin), std::ceil(high + margin));
    }
};

// "COM3", "ttyUSB0", "10.0.0.5:4001" (of tcp://10.0.0.5:4001): the last
// part, which tells ports apart once they share a folder or a scheme.
QString shortPortName(const QString &port)
{
    QString name = port.trimmed();
    while (name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\')))
        name.chop(1);
    const qsizetype cut =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return name.mid(cut + 1).isEmpty() ? port : name.mid(cut + 1);
}

// The legend's words for a source, without the quantity.
QString sourceText(const TrendOrigin &origin)
{
    QString text = origin.station > 0 ? QStringLiteral("站%1").arg(origin.station)
                                      : QStringLiteral("主动上传");
    if (origin.mainWindow)
        text.prepend(QStringLiteral("主窗口 "));
    return text + QLatin1Char(' ') + shortPortName(origin.port);
}

} // namespace

QString legendText(const TrendOrigin &origin, TrendQuantity quantity)
{
    return sourceText(origin) + (quantity == TrendQuantity::Temperature ? QStringLiteral(" 温度")
                                                                        : QStringLiteral(" 湿度"));
}

// The chart's mouse: where the cursor is as a fraction of the plot's width.
class TrendView : public QChartView
{
    Q_OBJECT
public:
    using QChartView::QChartView;

signals:
    void zoomed(double fraction, int steps);
    void panned(double fractionMoved);
    void hovered(double fraction);
    void followAgain();

protected:
    double fractionAt(const QPointF &pos) const
    {
        const QRectF plot = chart()->plotArea();
        return plot.width() > 0 ? (pos.x() - plot.left()) / plot.width() : 0;
    }
    void wheelEvent(QWheelEvent *event) override
    {
        emit zoomed(fractionAt(event->position()), event->angleDelta().y() / 120);
        event->accept();
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        m_dragFrom = fractionAt(event->position());
        m_dragging = event->button() == Qt::LeftButton;
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        const double at = fractionAt(event->position());
        if (m_dragging && (event->buttons() & Qt::LeftButton)) {
            emit panned(at - m_dragFrom);
            m_dragFrom = at;
        }
        emit hovered(at);
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        m_dragging = false;
        event->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        emit followAgain();
        event->accept();
    }

private:
    double m_dragFrom = 0;
    bool m_dragging = false;
};

struct TrendWindow::Drawn
{
    QString key;
    std::optional<TrendOrigin> origin; // what the legend names, once the source has samples
    QLineSeries *temperature = nullptr;
    QLineSeries *humidity = nullptr;
    QLineSeries *limits[4] = {}; // temperature high, low, humidity high, low
};

TrendWindow::TrendWindow(TrendStore *store, MessageSink *messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(store), m_messages(messages),
      m_clock([] { return QDateTime::currentDateTime(); }), m_chart(new QChart),
      m_view(new TrendView(m_chart, this)), m_time(new QDateTimeAxis(this)),
      m_temperatureAxis(new QValueAxis(this)), m_humidityAxis(new QValueAxis(this)),
      m_follow(new QComboBox(this)),
      m_mainWindow(new QCheckBox(QStringLiteral("主窗口读数"), this)), m_cursor(new QLabel(this)),
      m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("trendWindow"));
    setWindowTitle(QStringLiteral("趋势图"));
    resize(1000, 600);
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_time->setTitleText(QStringLiteral("时间"));
    m_time->setTickCount(7);
    m_temperatureAxis->setTitleText(QStringLiteral("温度 (℃)"));
    m_humidityAxis->setTitleText(QStringLiteral("湿度 (%RH)"));
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_temperatureAxis, Qt::AlignLeft);
    m_chart->addAxis(m_humidityAxis, Qt::AlignRight);
    m_view->setObjectName(QStringLiteral("trendChart"));
    m_view->setRenderHint(QPainter::Antialiasing, false);
    m_view->setMouseTracking(true);

    m_follow->setObjectName(QStringLiteral("trendFollow"));
    for (const auto &choice : followChoices)
        m_follow->addItem(QString::fromUtf8(choice.caption));
    m_follow->setCurrentIndex(1);
    m_mainWindow->setObjectName(QStringLiteral("trendMainWindow"));
    m_cursor->setObjectName(QStringLiteral("trendCursor"));
    m_cursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *exportButton = new QPushButton(QStringLiteral("导出 PNG..."), this);
    exportButton->setObjectName(QStringLiteral("trendExport"));
    auto *hint = new QLabel(QStringLiteral("滚轮缩放，拖动平移，双击恢复跟随"), this);
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_follow);
    bar->addWidget(m_mainWindow);
    bar->addWidget(hint);
    bar->addStretch();
    bar->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_cursor);

    m_timer->setObjectName(QStringLiteral("trendRedraw"));
    m_timer->setInterval(redrawEveryMs);
    connect(m_timer, &QTimer::timeout, this, &TrendWindow::tick);
    connect(m_follow, &QComboBox::activated, this, &TrendWindow::followChosen);
    connect(m_mainWindow, &QCheckBox::toggled, this, [this] { redraw(); });
    connect(exportButton, &QPushButton::clicked, this, &TrendWindow::exportClicked);
    connect(m_view, &TrendView::zoomed, this, &TrendWindow::zoom);
    connect(m_view, &TrendView::panned, this, &TrendWindow::pan);
    connect(m_view, &TrendView::hovered, this, &TrendWindow::hover);
    connect(m_view, &TrendView::followAgain, this, [this] {
        m_follow->setCurrentIndex(m_follow->currentIndex() > 0 ? m_follow->currentIndex() : 1);
        setFollow(followChoices[m_follow->currentIndex()].spanMs);
    });
    m_timer->start();
}

TrendWindow::~TrendWindow()
{
    qDeleteAll(m_drawn);
}

void TrendWindow::setMonitorSources(const QStringList &keys)
{
    m_monitorKeys = keys;
    redraw();
}

void TrendWindow::setMainWindowShown(bool shown)
{
    m_mainWindow->setChecked(shown);
}

void TrendWindow::setFollow(qint64 spanMs)
{
    m_followMs = spanMs;
    for (int i = 0; i < m_follow->count(); ++i) {
        if (followChoices[i].spanMs == spanMs)
            m_follow->setCurrentIndex(i);
    }
    redraw();
}

void TrendWindow::setRange(qint64 from, qint64 to)
{
    m_followMs = 0;
    m_follow->setCurrentIndex(0);
    m_from = from;
    m_to = std::max(to, from + 1000);
    redraw();
}

void TrendWindow::followChosen(int index)
{
    if (followChoices[index].spanMs > 0)
        setFollow(followChoices[index].spanMs);
    else
        setRange(m_from, m_to);
}

QStringList TrendWindow::wantedKeys() const
{
    QStringList keys = m_monitorKeys;
    if (m_mainWindow->isChecked()) {
        for (const QString &key : m_store->keys()) {
            if (TrendStore::isMainWindowKey(key))
                keys << key;
        }
    }
    return keys;
}

void TrendWindow::rebuild(const QStringList &keys)
{
    for (Drawn *d : std::as_const(m_drawn)) {
        for (QLineSeries *s : {d->temperature, d->humidity, d->limits[0], d->limits[1],
                               d->limits[2], d->limits[3]}) {
            m_chart->removeSeries(s);
            delete s;
        }
        delete d;
    }
    m_drawn.clear();
    int colour = 0;
    for (const QString &key : keys) {
        const QColor c = lineColours[colour++ % std::size(lineColours)];
        auto *d = new Drawn;
        d->key = key;
        auto line = [&](Qt::PenStyle style, qreal width, QColor shade, QValueAxis *axis) {
            auto *s = new QLineSeries;
            s->setName(key);
            s->setPen(QPen(shade, width, style));
            m_chart->addSeries(s);
            s->attachAxis(m_time);
            s->attachAxis(axis);
            // A marker has no tooltip of its own; the full port tells apart
            // ports whose short names agree.
            for (QLegendMarker *marker : m_chart->legend()->markers(s)) {
                connect(marker, &QLegendMarker::hovered, this, [this, d](bool on) {
                    if (on && d->origin)
                        QToolTip::showText(QCursor::pos(), d->origin->port, m_view);
                    else
                        QToolTip::hideText();
                });
            }
            return s;
        };
        // Solid temperature, dashed humidity, dotted limits: told apart
        // without the axes, and in a picture printed without colour.
        d->temperature = line(Qt::SolidLine, 1.6, c, m_temperatureAxis);
        d->humidity = line(Qt::DashLine, 1.4, c, m_humidityAxis);
        for (int i = 0; i < 4; ++i) {
            d->limits[i] = line(Qt::DotLine, 1.0, i < 2 ? c : c.lighter(150),
                                i < 2 ? m_temperatureAxis : m_humidityAxis);
            for (QLegendMarker *marker : m_chart->legend()->markers(d->limits[i]))
                marker->setVisible(false);
        }
        m_drawn << d;
    }
}

void TrendWindow::redraw()
{
    const QStringList keys = wantedKeys();
    QStringList drawnKeys;
    for (const Drawn *d : std::as_const(m_drawn))
        drawnKeys << d->key;
    if (keys != drawnKeys)
        rebuild(keys);
    if (m_followMs > 0) {
        m_to = m_clock().toMSecsSinceEpoch();
        m_from = m_to - m_followMs;
    }
    const int columns = std::max(50, int(m_chart->plotArea().width()));
    Span temperature, humidity;
    QVector<double> temperatureLimits, humidityLimits;
    m_drawnPoints = 0;
    for (Drawn *d : std::as_const(m_drawn)) {
        const TrendStore::Source *source = m_store->source(d->key);
        if (!source)
            continue;
        if (d->origin != source->origin) {
            d->origin = source->origin;
            d->temperature->setName(legendText(source->origin, TrendQuantity::Temperature));
            d->humidity->setName(legendText(source->origin, TrendQuantity::Humidity));
        }
        const QVector<QPointF> t =
            TrendHistory::points(source->temperature.decimate(m_from, m_to, columns));
        const QVector<QPointF> h =
            TrendHistory::points(source->humidity.decimate(m_from, m_to, columns));
        for (const QPointF &p : t)
            temperature.take(p.y());
        for (const QPointF &p : h)
            humidity.take(p.y());
        d->temperature->replace(t);
        d->humidity->replace(h);
        m_drawnPoints += t.size() + h.size();
        const std::optional<AlarmLimits> &l = source->limits;
        const int levels[] = {l ? l->temperatureHigh : 0, l ? l->temperatureLow : 0,
                              l ? l->humidityHigh : 0, l ? l->humidityLow : 0};
        for (int i = 0; i < 4; ++i) {
            if (!l || (t.isEmpty() && h.isEmpty())) {
                d->limits[i]->clear();
                continue;
            }
            const double y = realValue(i < 2 ? temperatureRow : humidityRow, levels[i]);
            (i < 2 ? temperatureLimits : humidityLimits) << y;
            d->limits[i]->replace(QVector<QPointF>{{double(m_from), y}, {double(m_to), y}});
        }
    }
    const qint64 span = m_to - m_from;
    m_time->setFormat(span <= 2 * 3'600'000    ? QStringLiteral("HH:mm:ss")
                      : span <= 2 * 86'400'000 ? QStringLiteral("MM-dd HH:mm")
                                               : QStringLiteral("yyyy-MM-dd"));
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(m_from), QDateTime::fromMSecsSinceEpoch(m_to));
    temperature.takeNear(temperatureLimits);
    humidity.takeNear(humidityLimits);
    temperature.applyTo(m_temperatureAxis, 0, 50);
    humidity.applyTo(m_humidityAxis, 0, 100);
    m_drawnGeneration = m_store->generation();
}

void TrendWindow::tick()
{
    // Following, time moves on by itself; otherwise only new samples matter.
    if (isVisible() && (m_followMs > 0 || m_store->generation() != m_drawnGeneration))
        redraw();
}

void TrendWindow::zoom(double fraction, int steps)
{
    if (steps == 0)
        return;
    const double at = double(m_from) + fraction * double(m_to - m_from);
    const double factor = std::pow(0.8, steps);
    setRange(qint64(at - (at - double(m_from)) * factor),
             qint64(at + (double(m_to) - at) * factor));
}

void TrendWindow::pan(double fraction)
{
    const qint64 shift = qint64(fraction * double(m_to - m_from));
    setRange(m_from - shift, m_to - shift);
}

void TrendWindow::hover(double fraction)
{
    const qint64 t = m_from + qint64(fraction * double(m_to - m_from));
    QStringList parts{
        QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
    for (const Drawn *d : std::as_const(m_drawn)) {
        const TrendStore::Source *source = m_store->source(d->key);
        const auto temperature = source ? source->temperature.nearest(t) : std::nullopt;
        const auto humidity = source ? source->humidity.nearest(t) : std::nullopt;
        if (!temperature || !humidity)
            continue;
        parts << QStringLiteral("%1: %2 ℃ %3 %RH")
                     .arg(sourceText(source->origin), QString::number(temperature->value, 'f', 2),
                          QString::number(humidity->value, 'f', 2));
    }
    m_cursor->setText(parts.join(QStringLiteral("    ")));
}

QString TrendWindow::cursorText() const
{
    return m_cursor->text();
}

bool TrendWindow::exportPng(const QString &path)
{
    return m_view->grab().save(path, "PNG");
}

void TrendWindow::exportClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出趋势图"),
                                                      QStringLiteral("趋势图.png"),
                                                      QStringLiteral("PNG 图片 (*.png)"));
    if (!path.isEmpty() && !exportPng(path))
        m_messages->show(
            this, UserMessage{QStringLiteral("无法保存文件：") + path, msg::errorTitle, true});
}

} // namespace kc

#include "TrendWindow.moc"
