#pragma once

#include "operations/Listening.h"
#include "protocol/ListenFraming.h"

#include <QObject>

#include <functional>

class QTimer;

namespace kc {

class LineEngine;

// Listens to a line another master drives, sending nothing: each delivery the
// engine receives is stamped with the clock, cut into frames by the lengths
// their function codes imply and by the line's silence (LineFramer), and the
// frames paired into judged exchanges (HeardTraffic).
class ListenFramer : public QObject
{
    Q_OBJECT
public:
    // The engine, open, must outlive the listener; nothing is ever submitted
    // to it. clock: monotonic milliseconds.
    explicit ListenFramer(LineEngine *engine, std::function<double()> clock = {},
                          QObject *parent = nullptr);

    // Listening ends: what is held is cut and a request still waiting is
    // concluded, unanswered.
    void finish();
    const HeardTraffic &traffic() const { return m_traffic; }

signals:
    void exchange(const kc::HeardExchange &exchange);

private:
    void heard(const QByteArray &bytes);
    void silence();
    void pass(const QVector<HeardFrame> &frames);
    void armSilence();

    std::function<double()> m_clock;
    LineFramer m_framer;
    HeardTraffic m_traffic;
    QTimer *m_silence;
};

} // namespace kc
