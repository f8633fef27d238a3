#include "LinePort.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kcsim {

namespace {

// A serial device server lets a few clients share its line, no more.
constexpr std::size_t maxClients = 4;
// What a client too slow to read may fall behind the line before it loses bytes.
constexpr std::size_t maxPending = 64 * 1024;
constexpr int listenerMark = -1;

// RTU frames over TCP, as a serial device server passes them on: each client is a
// peer of one line, replies go to the client that asked, the rest to every client.
class TcpPort final : public LinePort
{
public:
    TcpPort(int port, int baud) : m_port(port), m_baud(baud) {}
    ~TcpPort() override { closeAll(false); }

    bool open(int, std::int64_t, std::string &error) override
    {
        closeAll(true);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        // Kept from the first time, so after restore a tool finds the port where it was.
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(m_port));
        socklen_t length = sizeof address;
        const int yes = 1;
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
            bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(fd, static_cast<int>(maxClients)) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            error = "listen on 127.0.0.1:" + std::to_string(m_port) + ": " + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        m_port = ntohs(address.sin_port);
        m_listenFd = fd;
        return true;
    }

    std::string announcement() const override { return "TCP " + std::to_string(m_port); }
    void close() override { closeAll(true); }

    bool kick() override
    {
        while (!m_clients.empty())
            drop(m_clients.begin()->first);
        return true;
    }

    bool connected() const override
    {
        return std::any_of(m_clients.begin(), m_clients.end(),
                           [](const auto &client) { return !client.second.dead; });
    }

    int lineBaud() const override { return m_baud; }

    void watch(std::vector<pollfd> &fds, bool wantOut) override
    {
        m_watched.clear();
        if (m_listenFd >= 0) {
            fds.push_back({m_listenFd, POLLIN, 0});
            m_watched.push_back(listenerMark);
        }
        for (const auto &[id, client] : m_clients) {
            const bool out = wantOut || !client.pending.empty();
            fds.push_back({client.fd, static_cast<short>(POLLIN | (out ? POLLOUT : 0)), 0});
            m_watched.push_back(id);
        }
    }

    bool handle(const std::vector<pollfd> &fds, std::int64_t now) override
    {
        bool room = false;
        bool incoming = false;
        // Matched by number and descriptor, as a command in the same turn may have sent
        // clients away and a new one may have the old one's descriptor.
        for (std::size_t i = 0; i < m_watched.size() && i < fds.size(); ++i) {
            if (m_watched[i] == listenerMark) {
                incoming = fds[i].fd == m_listenFd && (fds[i].revents & POLLIN);
                continue;
            }
            const auto found = m_clients.find(m_watched[i]);
            if (found == m_clients.end() || found->second.fd != fds[i].fd)
                continue;
            Client &client = found->second;
            const short revents = fds[i].revents;
            if (revents & POLLIN)
                readFrom(found->first, client, now);
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                client.dead = true;
            if (!client.dead && (revents & POLLOUT)) {
                flush(client);
                room = true;
            }
        }
        for (auto it = m_clients.begin(); it != m_clients.end();)
            drop((it++)->first, true);
        if (incoming)
            acceptWaiting();
        return room;
    }

    ssize_t write(int peer, const std::uint8_t *data, std::size_t size, std::int64_t) override
    {
        // The most any client took: one that took less has lost the difference, so
        // what comes next never reaches anybody twice.
        ssize_t most = 0;
        bool anyone = false;
        for (auto &[id, client] : m_clients) {
            if (client.dead || (peer != Everyone && id != peer))
                continue;
            anyone = true;
            most = std::max(most, take(client, data, size));
        }
        // Bytes for a client that has gone reach nobody and hold nothing up.
        return anyone ? most : static_cast<ssize_t>(size);
    }

    std::int64_t nextDeadline() const override { return -1; }
    void recheck(std::int64_t) override {}

private:
    struct Client
    {
        int fd = -1;
        std::vector<std::uint8_t> pending; // what its socket had no room for yet
        bool dead = false;                 // closed at the end of the turn
    };

    void acceptWaiting()
    {
        for (;;) {
            const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            if (m_clients.size() >= maxClients) {
                ::close(fd);
                continue;
            }
            // Each piece leaves at its time, so a paced reply stays paced.
            const int yes = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            m_clients[m_nextId++].fd = fd;
        }
    }

    void readFrom(int id, Client &client, std::int64_t now)
    {
        std::uint8_t buffer[512];
        for (;;) {
            const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                m_listener->received(id, buffer, static_cast<std::size_t>(n), now);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            client.dead = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return;
        }
    }

    // Bytes taken: sent, or kept for later within what a slow client may fall behind.
    ssize_t take(Client &client, const std::uint8_t *data, std::size_t size)
    {
        std::size_t sent = 0;
        if (client.pending.empty()) {
            const ssize_t n = send(client, data, size);
            if (n < 0)
                return static_cast<ssize_t>(size);
            sent = static_cast<std::size_t>(n);
        }
        const std::size_t room = maxPending - std::min(maxPending, client.pending.size());
        const std::size_t kept = std::min(size - sent, room);
        client.pending.insert(client.pending.end(), data + sent, data + sent + kept);
        return static_cast<ssize_t>(sent + kept);
    }

    void flush(Client &client)
    {
        const ssize_t n = send(client, client.pending.data(), client.pending.size());
        if (n > 0)
            client.pending.erase(client.pending.begin(), client.pending.begin() + n);
    }

    // Bytes sent, 0 when the socket is full, -1 once the client is gone.
    static ssize_t send(Client &client, const std::uint8_t *data, std::size_t size)
    {
        for (;;) {
            const ssize_t n = ::send(client.fd, data, size, MSG_NOSIGNAL);
            if (n >= 0)
                return n;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            if (errno != EINTR) {
                client.dead = true;
                return -1;
            }
        }
    }

    void drop(int id, bool onlyDead = false)
    {
        const auto found = m_clients.find(id);
        if (onlyDead && !found->second.dead)
            return;
        ::close(found->second.fd);
        m_clients.erase(found);
        if (m_listener)
            m_listener->lost(id);
    }

    void closeAll(bool tell)
    {
        if (!tell)
            m_listener = nullptr;
        kick();
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
    }

    int m_port;
    int m_baud;
    int m_listenFd = -1;
    std::map<int, Client> m_clients;
    int m_nextId = 1;
    std::vector<int> m_watched; // the client, or the listener, behind each watched descriptor
};

} // namespace

std::unique_ptr<LinePort> makeTcpPort(int port, int baud)
{
    return std::make_unique<TcpPort>(port, baud);
}

} // namespace kcsim
