#pragma once

#include "HexBytes.h"

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// The simulator's line without any Modbus framing, for exact bytes, damaged
// replies and upload records.
class RawPort
{
public:
    explicit RawPort(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (m_fd >= 0 && tcgetattr(m_fd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~RawPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawPort(const RawPort &) = delete;
    RawPort &operator=(const RawPort &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    bool write(const std::string &hex)
    {
        const std::vector<std::uint8_t> bytes = hexBytes(hex);
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until at least `count` bytes arrived or the time is up.
    std::string read(std::size_t count, int timeoutMs)
    {
        std::string data;
        QElapsedTimer timer;
        timer.start();
        while (data.size() < count && timer.elapsed() < timeoutMs) {
            pollfd line{m_fd, POLLIN, 0};
            // Never negative: that would make poll wait for good.
            const auto left = std::max<qint64>(0, timeoutMs - timer.elapsed());
            if (poll(&line, 1, static_cast<int>(left)) > 0)
                data += available();
        }
        return data;
    }
    std::string readHex(std::size_t count, int timeoutMs)
    {
        const std::string data = read(count, timeoutMs);
        return hexText({data.begin(), data.end()});
    }
    // Sends a frame and returns what came back, as hex.
    std::string ask(const std::string &hex, std::size_t replySize, int timeoutMs = 2000)
    {
        return write(hex) ? readHex(replySize, timeoutMs) : "write failed";
    }

    std::string available()
    {
        std::string data;
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            data.append(buffer, static_cast<std::size_t>(n));
        return data;
    }

    int pendingBytes() const
    {
        int count = 0;
        ioctl(m_fd, FIONREAD, &count);
        return count;
    }

    void discardPending()
    {
        tcflush(m_fd, TCIFLUSH);
        available();
    }

private:
    int m_fd = -1;
};
