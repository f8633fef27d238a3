#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kcsim {

// What a port tells the line about its peers.
class PortListener
{
public:
    virtual void received(int peer, const std::uint8_t *data, std::size_t size,
                          std::int64_t now) = 0;
    // The peer has gone: nothing more comes from it, nothing reaches it.
    virtual void lost(int peer) = 0;

protected:
    ~PortListener() = default;
};

// The module's end of the line as poll() sees it: a pseudo-terminal or serial device
// with one peer, the tool, or a TCP listener whose clients are the peers. A peer's
// number is never reused, so bytes meant for a client that left reach nobody else.
class LinePort
{
public:
    static constexpr int Everyone = -1;

    virtual ~LinePort() = default;
    void setListener(PortListener *listener) { m_listener = listener; }

    // Opens (again); nobody counts as connected until somebody is.
    virtual bool open(int baud, std::int64_t now, std::string &error) = 0;
    // The line printed once the port is ready, such as "PTY /dev/pts/3"; empty for none.
    virtual std::string announcement() const = 0;
    // Like an unplugged adapter: every peer goes and nobody gets in until open().
    virtual void close() = 0;
    // Sends every peer away but lets new ones in; false where there is no such thing.
    virtual bool kick() = 0;
    virtual bool connected() const = 0;
    // The rate the line is set to, 0 when unknown.
    virtual int lineBaud() const = 0;

    // Adds what poll() is to watch; wantOut asks to hear when there is room to write.
    virtual void watch(std::vector<pollfd> &fds, bool wantOut) = 0;
    // Takes what poll() reported on the descriptors watch() added; true when there is
    // room to write again.
    virtual bool handle(const std::vector<pollfd> &fds, std::int64_t now) = 0;
    // Bytes the line took for peer (or Everyone), 0 when it is full, -1 when it is lost.
    virtual ssize_t write(int peer, const std::uint8_t *data, std::size_t size,
                          std::int64_t now) = 0;
    // When the port wants a turn of its own, -1 for never; recheck() takes it.
    virtual std::int64_t nextDeadline() const = 0;
    virtual void recheck(std::int64_t now) = 0;

protected:
    PortListener *m_listener = nullptr;
};

// A fresh pseudo-terminal, or device when it is not empty, optionally named by link.
std::unique_ptr<LinePort> makeTerminalPort(std::string device, std::string link);
// A listener on 127.0.0.1:port (0: one the system picks) whose line runs at baud, 0 unknown.
std::unique_ptr<LinePort> makeTcpPort(int port, int baud);

} // namespace kcsim
