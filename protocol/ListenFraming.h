#pragma once

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <utility>

namespace kc {

// How many bytes a request frame has, judged from its first bytes: 0 while too
// few have arrived to tell, -1 for a function whose request is not known here.
int requestFrameLength(const QByteArray &head);

// A frame heard on a line somebody else is master of.
struct HeardFrame
{
    enum class Role : std::uint8_t {
        Request,
        Reply, // to the request before it; crcOk false: damaged (cut, garbled)
        Noise, // bytes that are no frame: stray bytes, garbage, a damaged request
    };
    QByteArray bytes;
    Role role = Role::Noise;
    bool crcOk = false;
    double at = 0; // when its last byte was read, ms
};

// Cuts what a listener hears into frames. A frame ends where the length its
// function code implies ends and its CRC holds; as the reply the last request
// awaits (from its station, for its function) where one is awaited, else as a
// request. Bytes that can never begin such a frame are noise up to the next
// frame that holds, or up to a silence on the line. Times are the caller's
// (ms), so the same input always cuts the same way.
class LineFramer
{
public:
    // silenceMs ends bytes that cannot be a frame; a frame whose length is
    // known waits patienceMs for the rest, as adapters deliver in bursts.
    LineFramer(double silenceMs, double patienceMs);

    // Bytes read at now.
    QVector<HeardFrame> feed(const QByteArray &bytes, double now);
    // Nothing more arrived by now: what is held is cut once its wait is over.
    QVector<HeardFrame> idle(double now);
    // When idle() may cut what is held; negative when nothing is held.
    double cutAt() const;

    // Longest stretch held without a frame in it: a Modbus frame is at most
    // frameMost bytes, so whatever lies before the last of them is noise.
    static constexpr int frameMost = 256;
    static constexpr int heldMax = 2 * frameMost;

private:
    enum class Head { Holds, MayHold, Never };
    struct Cut
    {
        int length = 0;
        HeardFrame::Role role = HeardFrame::Role::Noise;
    };

    QVector<HeardFrame> extract(bool silence);
    Head judgeAt(qsizetype at, Cut &cut) const;
    bool fromAwaitedStation(int station) const;
    // For the function awaited; fromStation: from the station awaited too.
    bool awaitedReply(const QByteArray &view, bool fromStation) const;
    void take(QVector<HeardFrame> &out, int length, HeardFrame::Role role, bool crcOk);

    double m_silenceMs;
    double m_patienceMs;
    QByteArray m_held;
    // Where each delivery held ends (offset into m_held) and when it was read.
    QVector<std::pair<qsizetype, double>> m_arrivals;
    double m_lastAt = 0;
    qsizetype m_neverBefore = 1; // offsets from 1 up to this one begin no frame, whatever follows
    int m_awaitStation = -1;     // of the reply awaited; -1: none
    int m_awaitFunction = -1;
};

} // namespace kc
