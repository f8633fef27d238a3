#pragma once

#include <QVector>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWidget;

namespace kc {

// The window's controls, by what each is for.
struct MainForm
{
    QWidget *client; // the window's client area, "frmMain"
    QComboBox *portList;
    QComboBox *baudList;
    QPushButton *openButton;
    QPushButton *closeButton;
    QLabel *greenLamp;
    QLabel *yellowLamp;
    QLabel *redLamp;
    QPlainTextEdit *sentBox;
    QPlainTextEdit *receivedBox;
    QLabel *receptionCounter;
    QLabel *cycleCounter;

    QLineEdit *stationBox;
    QLineEdit *functionBox;
    QLineEdit *startBox;
    QLineEdit *countBox;

    QLineEdit *currentAddressBox;
    QLineEdit *targetAddressBox;
    QPushButton *addressChangeButton;
    QPushButton *addressReadButton;

    QVector<QLineEdit *> valueBoxes;   // one per register row
    QVector<QPushButton *> setButtons; // row k's button is setButtons[k - 3]
    QLineEdit *periodBox;
    QPushButton *singleReadButton;
    QPushButton *loopStartButton;
    QPushButton *loopStopButton;
    QLineEdit *deviceInfoBox;
    QPushButton *deviceInfoButton;
    QTimer *pollTimer;

    QPlainTextEdit *uploadLog;
    QPushButton *uploadButton;
};

// Builds every control of the client area at its place, with its caption, font,
// colours, object name and accessible name. beforePortPopup runs each time the
// port list opens.
MainForm buildMainForm(QWidget *window, std::function<void()> beforePortPopup);

} // namespace kc
