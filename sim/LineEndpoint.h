#pragma once

#include <string>

namespace kcsim {

// The module's end of the line: the master side of a fresh pseudo-terminal, or a
// device path given on the command line. Optionally mirrored by a symlink so a
// tool keeps one path across drop/restore.
class LineEndpoint
{
public:
    LineEndpoint(std::string device, std::string link);
    ~LineEndpoint();
    LineEndpoint(const LineEndpoint &) = delete;
    LineEndpoint &operator=(const LineEndpoint &) = delete;

    bool open(int baud, std::string &error);
    void close();

    int fd() const { return m_fd; }
    bool isPty() const { return m_device.empty(); }
    // Where a tool opens the line: the slave end, or the device itself.
    const std::string &peerPath() const { return m_peerPath; }
    // The rate the line is set to (by the tool, on a pseudo-terminal), 0 when unknown.
    int configuredBaud() const;

    // A real adapter loses what nobody read when the port closes; a pty keeps it for
    // the next reader, so clear it when the reader leaves.
    void discardUnread();

    void removeLink();

private:
    bool openPty(std::string &error);
    bool openDevice(int baud, std::string &error);
    bool updateLink(std::string &error);

    std::string m_device;
    std::string m_link;
    std::string m_peerPath;
    int m_fd = -1;
};

} // namespace kcsim
