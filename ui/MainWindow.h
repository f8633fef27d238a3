#pragma once

#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "operations/Outcomes.h"
#include "operations/Replies.h"
#include "operations/Requests.h"
#include "operations/TrafficLog.h"
#include "protocol/Framing.h"
#include "ui/MainForm.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <optional>

namespace kc {

class MessageSink;
class MonitorWindow;
class PortClaims;
class SerialLink;
class TrafficLogWindow;
class TrendWindow;

// Window-level variables shared by the handlers.
struct WindowState
{
    RequestKind CmdType = RequestKind::None;
    std::int16_t RecLength = 0;
    bool LoopOn = false;
    std::int32_t RecvCount = 0;
    std::int64_t cycleCount = 0;
    std::int16_t CommNum = 0;
    std::int32_t CommRate = 0;
};

// The tool's main window: its client area comes from the form; this class
// starts up, wires the controls and handles what a technician does. Handlers
// read boxes, ask operations/ what to do, and apply the answer. The menu bar
// and the status bar lie outside the client area.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window owns the link. Start-up runs here, as when a window loads.
    MainWindow(SerialLink *link, MessageSink *messages, QWidget *parent = nullptr);
    ~MainWindow() override;

    QTimer *pollTimer() const { return m_form.pollTimer; }
    // Object name of the lamp image in front.
    QString frontLamp() const;
    // Time stamp source of upload log lines and the traffic log.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // Milliseconds of a monotonic clock, for response times and deadlines.
    void setMsClock(std::function<double()> clock) { m_msClock = std::move(clock); }
    const OutcomeTotals &totals() const { return m_totals; }
    TrafficLogWindow *trafficLog() const { return m_traffic; }
    int responseTimeout() const { return m_timeoutMs; }
    void setResponseTimeout(int ms) { m_timeoutMs = ms; }

    // A tool window that waits for answers borrows the port: polling and the
    // upload mode stop, the port closes and the window leaves it alone until
    // reclaimPort(). Nothing while another tool has it.
    SerialLink *releasePort();
    // Takes the port back and opens it at the operator's rate, if it was open.
    void reclaimPort();
    bool portLent() const { return m_portLent; }
    int operatorBaud() const { return m_state.CommRate; }
    QString stationText() const;
    // "使用": the rate and station of a module the scan found.
    void useModule(int baud, int station);
    // The tool windows, made when first asked for, and what they share with this one.
    PortClaims *portClaims() const { return m_claims; }
    DataLog *dataLog() { return &m_dataLog; }
    TrendStore *trendStore() { return &m_trendStore; }
    MonitorWindow *monitorWindow();
    // "COMn" of the port this window uses.
    QString portName() const;
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
    void OpenOnComm();
    bool openPort(bool sayWhenBusy);

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

    // What came back, and what became of the request.
    void OnComm();
    void deadlinePassed();
    void send(const RequestPlan &plan);
    void conclude(const Outcome &outcome);
    void showStatus(const QString &text);
    void showTotals();

    // The menus.
    void commSettings();
    void about();

    std::optional<RequestPlan> accepted(const Planned &planned);
    void dispatch(const RequestPlan &plan);
    void armRawReads();
    void prepareForRequest();
    void setCounters(std::int32_t receptions, std::int64_t cycles);
    void showMessage(const UserMessage &message);
    void bringToFront(QLabel *lamp);
    void refreshPortTooltips();

    // A tool window holds this port: its message, and nothing is sent.
    bool refusedByClaim();
    void portClaimed(const QString &identity);
    void portReleased(const QString &identity);
    // Reads and upload records for the trend and the data log.
    void recordRead(const Outcome &outcome);
    void recordUpload(const UploadReadings &record);

    SerialLink *m_link;
    MessageSink *m_messages;
    std::function<QDateTime()> m_clock;
    QElapsedTimer m_elapsed;
    std::function<double()> m_msClock;
    WindowState m_state;
    UploadFramer m_upload;
    ReplyWatch m_watch;
    OutcomeTotals m_totals;
    int m_timeoutMs = defaultTimeoutMs;
    bool m_messageOpen = false;
    MainForm m_form;
    QTimer *m_deadline;
    QLabel *m_statusText;
    QLabel *m_totalsText;
    TrafficLogWindow *m_traffic;
    bool m_portLent = false;
    bool m_portWasOpen = false;
    PortClaims *m_claims;
    DataLog m_dataLog;
    TrendStore m_trendStore;
    MonitorWindow *m_monitor = nullptr;
    TrendWindow *m_trend = nullptr;
    bool m_yielded = false; // the port was closed for a tool window
    int m_lastStation = 0;  // of the last request sent
};

} // namespace kc
