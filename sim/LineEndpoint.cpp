#include "LineEndpoint.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace kcsim {

namespace {

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

const std::pair<int, speed_t> speeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

speed_t speedFor(int baud)
{
    for (const auto &[rate, speed] : speeds) {
        if (rate == baud)
            return speed;
    }
    return B9600;
}

bool makeRaw(int fd, int baud)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, speedFor(baud));
    cfsetospeed(&settings, speedFor(baud));
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

LineEndpoint::LineEndpoint(std::string device, std::string link)
    : m_device(std::move(device)), m_link(std::move(link))
{
}

LineEndpoint::~LineEndpoint()
{
    close();
    removeLink();
}

bool LineEndpoint::open(int baud, std::string &error)
{
    close();
    const bool opened = isPty() ? openPty(error) : openDevice(baud, error);
    if (!opened)
        return false;
    if (!m_link.empty() && !updateLink(error)) {
        close();
        return false;
    }
    return true;
}

void LineEndpoint::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LineEndpoint::openPty(std::string &error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    const char *name = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
        error = systemError("pseudo-terminal setup");
        ::close(master);
        return false;
    }
    m_peerPath = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    // Raw mode is a property of the slave side; it stays while the master is open.
    // Closing our slave descriptor again leaves the line "unplugged" until a tool opens it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0 || !makeRaw(slave, 9600)) {
        error = systemError("raw mode on " + m_peerPath);
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    ::close(slave);
    m_fd = master;
    return true;
}

bool LineEndpoint::openDevice(int baud, std::string &error)
{
    const int fd = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(m_device);
        return false;
    }
    if (isatty(fd) && !makeRaw(fd, baud)) {
        error = systemError("raw mode on " + m_device);
        ::close(fd);
        return false;
    }
    m_peerPath = m_device;
    m_fd = fd;
    return true;
}

int LineEndpoint::configuredBaud() const
{
    // A pseudo-terminal's master reads the settings the tool made on its end.
    termios settings{};
    if (m_fd < 0 || tcgetattr(m_fd, &settings) != 0)
        return 0;
    for (const auto &[rate, speed] : speeds) {
        if (speed == cfgetospeed(&settings))
            return rate;
    }
    return 0;
}

void LineEndpoint::discardUnread()
{
    if (!isPty() || m_fd < 0)
        return;
    const int slave = ::open(m_peerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return;
    // Input only: anything the tool has just written is still wanted.
    tcflush(slave, TCIFLUSH);
    ::close(slave);
}

bool LineEndpoint::updateLink(std::string &error)
{
    struct stat info
    {
    };
    if (lstat(m_link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = m_link + " exists and is not a symlink; not replacing it";
        return false;
    }
    // Build the new link beside the old one and rename it over, so a tool
    // reopening the path never finds it missing.
    const std::string temporary = m_link + ".tmp" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_peerPath.c_str(), temporary.c_str()) != 0) {
        error = systemError("symlink " + temporary);
        return false;
    }
    if (::rename(temporary.c_str(), m_link.c_str()) != 0) {
        error = systemError("rename to " + m_link);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void LineEndpoint::removeLink()
{
    if (m_link.empty() || m_peerPath.empty())
        return;
    // Only our own link: another simulator may have taken the path over since.
    char target[PATH_MAX];
    const ssize_t length = readlink(m_link.c_str(), target, sizeof target - 1);
    if (length < 0)
        return;
    target[length] = '\0';
    if (m_peerPath == target)
        ::unlink(m_link.c_str());
}

} // namespace kcsim
