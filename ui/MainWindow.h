#pragma once

#include "operations/Requests.h"
#include "protocol/ResponseReceiver.h"

#include <QDateTime>
#include <QVector>
#include <QWidget>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kc {

class MessageSink;
class SerialLink;

// Window-level variables shared by the handlers.
struct WindowState
{
    std::int16_t CmdType = 0;
    std::int16_t RecLength = 0;
    bool LoopOn = false;
    std::int32_t RecvCount = 0;
    std::int16_t CommNum = 0;
    std::int32_t CommRate = 0;
};

// The tool's one window. Controls carry their documented object names; control
// arrays are named <array>_<index> (cmdSet_0 .. cmdSet_11, txtValue_0 ..).
// Handlers read boxes, ask operations/ what to do, and apply the answer.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    // The window owns the link. Start-up runs here, as when a window loads.
    MainWindow(SerialLink *link, MessageSink *messages, QWidget *parent = nullptr);
    ~MainWindow() override;

    const WindowState &state() const { return m_state; }
    QTimer *pollTimer() const { return m_timer2; }
    // Object name of the lamp image in front.
    QString frontLamp() const;
    // Time stamp source of upload log lines.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    static QString settingsText(std::int32_t rate);

private:
    void buildControls();
    void connectHandlers();
    void startUp();

    // Serial-link flows.
    void portChoice();
    void baudChoice();
    void openClicked();
    void closeClicked();
    void OpenOnComm();

    // Requests.
    void singleRead();
    void loopStart();
    void loopStop();
    void timerTick();
    void parameterWrite(int index);
    void addressRead();
    void addressChange();
    void deviceInfo();
    void uploadMode();
    void dispatch(const RequestPlan &plan);
    void prepareForRequest();

    void OnComm();

    void showMessage(const UserMessage &message);
    void bringToFront(QLabel *lamp);
    void refreshPortTooltips();

    SerialLink *m_link;
    MessageSink *m_messages;
    std::function<QDateTime()> m_clock;
    WindowState m_state;
    UploadFramer m_upload;
    bool m_inTick = false;
    bool m_tickMessageOpen = false;

    QComboBox *Combo1 = nullptr, *Combo2 = nullptr;
    QPushButton *cmdCom = nullptr, *Command1 = nullptr;
    QLabel *imgConnected = nullptr, *ImgYellow = nullptr, *imgNotConnected = nullptr;
    QPlainTextEdit *txtCommand = nullptr, *txtState = nullptr, *txtUp = nullptr;
    QLabel *lblErrCounter = nullptr, *lblCounter = nullptr;
    QLineEdit *txtStationID = nullptr, *txtFunID = nullptr, *txtStartID = nullptr,
              *txtDataLength = nullptr, *txtTimerSet = nullptr, *TXTtype = nullptr;
    QVector<QLineEdit *> txtValue, txtSetID;
    QVector<QPushButton *> cmdSet;
    QPushButton *cmdChangeID = nullptr, *cmdReadAdd = nullptr;
    QPushButton *comDoOnce = nullptr, *cmdOneM = nullptr, *cmdStopOnce = nullptr;
    QPushButton *Command2 = nullptr, *Command3 = nullptr;
    QTimer *m_timer2 = nullptr;
};

} // namespace kc
