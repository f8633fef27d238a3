#include "support/MessageRecorder.h"

#include "line/TrendHistory.h"
#include "ui/TrendWindow.h"

#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QToolTip>

#include <gtest/gtest.h>

using kc::TrendQuantity;

// Ports in one folder or behind one scheme still read apart, and every entry
// says what it measures.
TEST(TrendLegend, StationShortPortAndQuantity)
{
    const std::tuple<kc::TrendOrigin, TrendQuantity, const char *> cases[] = {
        {{"COM3", 3, false}, TrendQuantity::Temperature, "站3 COM3 温度"},
        {{"/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", 12, false},
         TrendQuantity::Humidity,
         "站12 usb-FTDI_FT232R_A50285BI-if00-port0 湿度"},
        {{"/tmp/kc4420-demo/rack-B", 1, false}, TrendQuantity::Temperature, "站1 rack-B 温度"},
        {{"tcp://10.0.0.5:4001", 7, false}, TrendQuantity::Humidity, "站7 10.0.0.5:4001 湿度"},
        {{"COM1", 5, true}, TrendQuantity::Temperature, "主窗口 站5 COM1 温度"},
        {{"/dev/ttyUSB0", 0, true}, TrendQuantity::Humidity, "主窗口 主动上传 ttyUSB0 湿度"},
    };
    for (const auto &[origin, quantity, text] : cases)
        EXPECT_EQ(kc::legendText(origin, quantity), text) << origin.port.toStdString();
}

// Temperature solid, humidity dashed, alarm limits dotted and out of the
// legend; an entry's tooltip gives the whole port, and the entries follow the
// port the main window reads next.
TEST(TrendWindow, LinesToldApart)
{
    const QString key = kc::TrendStore::mainWindowKey(3);
    const QString port = "/tmp/kc4420-demo/rack-A";
    kc::TrendStore store;
    store.add(key, {port, 3, true}, 1000, 25, 60, kc::AlarmLimits{5000, -1000, 9000, 1000});
    MessageRecorder messages;
    kc::TrendWindow w(&store, &messages);
    w.setMainWindowShown(true);
    w.setRange(0, 2000);
    w.show();
    QChart *chart = w.findChild<QChartView *>("trendChart")->chart();
    const auto lines = [chart] {
        QStringList shown;
        for (QAbstractSeries *s : chart->series()) {
            const Qt::PenStyle style = static_cast<QLineSeries *>(s)->pen().style();
            const QLegendMarker *marker = chart->legend()->markers(s).value(0);
            shown << (marker->isVisible() ? marker->label() : QString("-")) + " " +
                         (style == Qt::SolidLine  ? "solid"
                          : style == Qt::DashLine ? "dashed"
                          : style == Qt::DotLine  ? "dotted"
                                                  : "other");
        }
        return shown;
    };
    EXPECT_EQ(lines(), (QStringList{"主窗口 站3 rack-A 温度 solid", "主窗口 站3 rack-A 湿度 dashed",
                                    "- dotted", "- dotted", "- dotted", "- dotted"}));
    emit chart->legend()->markers(chart->series()[1]).value(0)->hovered(true);
    EXPECT_EQ(QToolTip::text(), port);

    store.add(key, {"COM2", 3, true}, 1500, 25, 60);
    w.redraw();
    EXPECT_EQ(lines().mid(0, 2),
              (QStringList{"主窗口 站3 COM2 温度 solid", "主窗口 站3 COM2 湿度 dashed"}));
}
