#pragma once

#include "line/PortClaims.h"
#include "line/Recorder.h"
#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "operations/Outcomes.h"
#include "operations/Requests.h"
#include "protocol/AdapterEcho.h"
#include "protocol/Framing.h"
#include "ui/MainForm.h"

#include <QDateTime>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <optional>

namespace kc {

class LineEngine;
class MessageSink;
class MonitorWindow;
class TrafficLogWindow;
class TrendWindow;

// The tool's main window: its client area comes from the form; this class
// starts up, wires the controls and handles what a technician does. Each
// request goes to the line engine of the window's port; the window shows what
// went out, what came back and what became of it. The menu bar and the status
// bar lie outside the client area.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Start-up runs here, as when a window loads. The claims object, which
    // makes every line, must outlive the window.
    MainWindow(PortClaims *claims, MessageSink *messages, QWidget *parent = nullptr);
    ~MainWindow() override;

    QTimer *pollTimer() const { return m_form.pollTimer; }
    // Object name of the lamp image in front.
    QString frontLamp() const;
    // Time stamp source of upload log lines, the traffic log and the recorder.
    void setClock(std::function<QDateTime()> clock);
    const OutcomeTotals &totals() const { return m_totals; }
    TrafficLogWindow *trafficLog() const { return m_traffic; }
    int responseTimeout() const { return m_timeoutMs; }
    void setResponseTimeout(int ms);

    // The line of the window's port; nullptr while a tool holds it.
    LineEngine *line() const { return m_engine; }
    // What the tool windows share with this one.
    PortClaims *portClaims() const { return m_claims; }
    // "COMn" of the port this window uses.
    QString portName() const { return m_port; }
    int operatorBaud() const { return m_operatorBaud; }
    QString stationText() const;
    // "使用": the rate and station of a module the scan found.
    void useModule(int baud, int station);
    Recorder *recorder() { return &m_recorder; }
    TrendStore *trendStore() { return &m_trendStore; }
    // The tool windows, made when first asked for.
    MonitorWindow *monitorWindow();
    TrendWindow *trendWindow();

private:
    void buildMenus();
    void buildStatusBar();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void connectHandlers();
    void startUp();

    // The port: choose, set the rate, open, close.
    void portChoice();
    void baudChoice();
    void openClicked();
    void closeClicked();
    bool openPort(bool sayWhenBusy);
    bool takePort();
    void dropPort();

    // Reading the registers once or on the timer.
    void singleRead();
    void loopStart();
    void loopStop();
    void timerTick();

    // Writing a row, the address, the device text, the upload mode.
    void parameterWrite(int buttonIndex);
    void addressRead();
    void addressChange();
    void deviceInfo();
    void uploadMode();

    // What the engine reports.
    void received(const QByteArray &bytes);
    void concluded(const Outcome &outcome);
    void lineLost();
    void uploadBytes(const QByteArray &bytes);

    void send(const Request &request);
    void dispatch(const Request &request);
    std::optional<Request> accepted(const Planned &planned);
    void showStatus(const QString &text);
    void showMode(const QString &mode);
    void showTotals();
    void countReception();
    void setCounters(std::int32_t receptions, std::int64_t cycles);
    void showMessage(const UserMessage &message);
    void bringToFront(QLabel *lamp);
    void refreshPortTooltips();

    // The menus.
    void commSettings();
    void about();

    // A tool holds this port: its message, and nothing is sent.
    bool refusedByClaim();
    void yieldPort(const QString &identity);
    void portClaimed(const QString &identity, Holder holder);
    void portReleased(const QString &identity, Holder holder);
    void watchTraffic(LineEngine *engine);

    PortClaims *m_claims;
    MessageSink *m_messages;
    std::function<QDateTime()> m_clock;
    MainForm m_form;
    LineEngine *m_engine = nullptr; // while the window holds its port
    QString m_port;                 // "COMn" chosen
    std::optional<Holder> m_takenBy; // the tool holding the port
    QString m_yieldedIdentity;       // the port given up to it
    bool m_openWhenBack = false;
    int m_operatorBaud = 9600;

    // The counters and whether ticks may send; the cycle count is kept wide,
    // as a tick starts it over past 65535.
    bool m_pollingAllowed = false;
    std::int32_t m_receptions = 0;
    std::int64_t m_cycles = 0;
    // A reply's bytes go on the received box until its outcome is in.
    bool m_collecting = false;
    bool m_uploadMode = false;
    UploadFramer m_upload;
    QByteArray m_uploadShown; // the record in progress, as the received box shows it

    OutcomeTotals m_totals;
    int m_timeoutMs = defaultTimeoutMs;
    EchoMode m_echoMode = EchoMode::Auto; // of every line this window's program opens
    bool m_messageOpen = false;
    QString m_mode;   // polling or the upload mode, while on
    QString m_status; // the last outcome, or what is awaited
    QLabel *m_statusText;
    QLabel *m_totalsText;
    TrafficLogWindow *m_traffic;
    DataLog m_dataLog;
    TrendStore m_trendStore;
    Recorder m_recorder;
    MonitorWindow *m_monitor = nullptr;
    TrendWindow *m_trend = nullptr;
};

} // namespace kc
