// Makes the README's pictures of the main window, the monitor, the trend and
// the bus scan: the whole window program against simulated modules on four
// pseudo-terminal lines, one of which is pulled. Run it under a display (xvfb-run -a) from the clone:
//
//   xvfb-run -a build/bench/bench_screens docs

#include "BenchSupport.h"
#include "CountingSink.h"
#include "SimProcess.h"

#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "ui/BusScanWindow.h"
#include "ui/MainWindow.h"
#include "ui/MonitorWindow.h"
#include "ui/TrendWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const int seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 60;
    // Short names, as a by-id name would be shown.
    QDir dir(QStringLiteral("/tmp/kc4420-demo"));
    dir.mkpath(QStringLiteral("log"));
    const QString a = dir.filePath("rack-A"), b = dir.filePath("rack-B"), c = dir.filePath("store");
    SimProcess simA({"--stations", "1-4", "--link", a, "--seed", "11"});
    SimProcess simB({"--stations", "11-13", "--link", b, "--seed", "12", "--silent-station", "13"});
    SimProcess simC({"--stations", "21", "--link", c, "--seed", "13"});
    // The main window's own bench line, as COM1.
    const QString bench = dir.filePath("bench");
    SimProcess simD({"--link", bench, "--seed", "14"});
    if (!simA.ready() || !simB.ready() || !simC.ready() || !simD.ready())
        return 1;
    qputenv("KC4420_COM1", bench.toLocal8Bit());
    simB.command("set 0=5240 12"); // 52.40 ℃, above the module's own 50.00

    CountingSink sink;
    kc::PortClaims claims;
    kc::MainWindow window(&claims, &sink);
    kc::MonitorWindow *monitorWindow = window.monitorWindow();
    kc::Monitor *monitor = monitorWindow->monitor();
    monitor->add(a, "1-4", 9600);
    monitor->add(b, "11-13", 9600);
    monitor->add(c, "21", 9600);
    auto *table = monitorWindow->findChild<QTableWidget *>("monitorTable");
    for (int row : {0, 1, 5})
        table->item(row, 0)->setCheckState(Qt::Checked);
    monitorWindow->findChild<QSpinBox *>("monitorCycle")->setValue(1000);
    monitorWindow->findChild<QLabel *>("monitorFolder")->setText(dir.filePath("log"));
    monitorWindow->findChild<QCheckBox *>("monitorLog")->setChecked(true);
    monitorWindow->resize(1180, 340);
    monitorWindow->show();
    kc::TrendWindow *trend = window.trendWindow();
    trend->show();
    monitorWindow->findChild<QPushButton *>("monitorStart")->click();
    window.show();
    window.findChild<QLineEdit *>("txtTimerSet")->setText(QStringLiteral("1000"));
    window.findChild<QPushButton *>("cmdOneM")->click();
    runFor(seconds * 1000);
    simC.command("drop");
    runFor(3000);

    QWidget *view = trend->findChild<QWidget *>("trendChart");
    QTest::mouseMove(view, QPoint(view->width() * 2 / 3, view->height() / 2));
    runFor(600);
    QDir().mkpath(out);
    std::printf("log: %s\n", qPrintable(window.recorder()->log()->currentPath()));
    bool saved = monitorWindow->grab().save(QDir(out).filePath("monitor.png")) &&
                 trend->grab().save(QDir(out).filePath("trend.png")) &&
                 window.grab().save(QDir(out).filePath("window.png"));
    monitor->stop();

    // The bench line's module answers at every rate, as a module behind a
    // converter does: one row with its rates.
    window.findChild<QPushButton *>("cmdStopOnce")->click();
    kc::showBusScan(&window, &sink);
    auto *scan = window.findChild<QDialog *>("busScan");
    if (!scan)
        return 1;
    scan->findChild<QSpinBox *>("scanLast")->setValue(3);
    auto *start = scan->findChild<QPushButton *>("scanStart");
    start->click();
    for (int i = 0; i < 600 && !start->isEnabled(); ++i)
        runFor(100);
    runFor(300);
    saved = saved && start->isEnabled() && scan->grab().save(QDir(out).filePath("scan.png"));
    return saved ? 0 : 1;
}
