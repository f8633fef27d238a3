#include "SimRunner.h"

#include "UploadRecord.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <utility>

namespace kcsim {

namespace {

constexpr std::int64_t nsPerMs = 1'000'000;
constexpr std::int64_t nsPerSecond = 1'000'000'000;
// A closed pseudo-terminal reports POLLHUP without pause, so while nobody has the
// line open we look again at this pace instead of polling it.
constexpr std::int64_t reconnectCheckNs = 50 * nsPerMs;
// Below this, sleeping to the exact deadline beats poll()'s millisecond timeout.
constexpr std::int64_t preciseSleepNs = 2 * nsPerMs;
constexpr std::size_t maxFrameBytes = 256;
constexpr std::size_t maxControlLine = 4096;
constexpr int floodChunksPerTurn = 16;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

bool installSignals()
{
    if (pipe(signalPipe) != 0)
        return false;
    for (const int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // Output to a vanished reader must not kill us, and a simulator started in the
    // background must not stop when it looks at the terminal.
    action.sa_handler = SIG_IGN;
    for (const int signal : {SIGPIPE, SIGTTIN, SIGTTOU})
        sigaction(signal, &action, nullptr);
    return true;
}

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * nsPerSecond + now.tv_nsec;
}

void sleepUntil(std::int64_t deadlineNs)
{
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineNs / nsPerSecond);
    deadline.tv_nsec = static_cast<long>(deadlineNs % nsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void printLine(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void earliest(std::int64_t &current, std::int64_t candidate)
{
    if (candidate >= 0 && (current < 0 || candidate < current))
        current = candidate;
}

} // namespace

SimRunner::SimRunner(SimOptions options)
    : m_options(std::move(options)),
      m_slave(m_store, static_cast<std::uint8_t>(m_options.address), m_options.model),
      m_shaper(m_options.shape, m_options.seed), m_driftRng(m_options.seed ^ 0x5A5A5A5Au),
      m_line(m_options.device, m_options.link), m_silent(m_options.silent), m_noise(m_options.noise)
{
    for (const auto &[index, word] : m_options.initialWords)
        m_store.setWord(index, word);
}

int SimRunner::run()
{
    if (!installSignals()) {
        std::perror("kc4420-sim: pipe");
        return 1;
    }
    std::int64_t now = monotonicNs();
    if (!openLine(now))
        return 1;
    announce();

    if (!m_options.fixed)
        m_nextDriftNs = now + nsPerSecond;
    if (m_options.upload) {
        m_uploadIntervalNs = m_options.uploadMs > 0
                                 ? static_cast<std::int64_t>(m_options.uploadMs * nsPerMs)
                                 : m_store.word(reg::UploadInterval) * nsPerSecond;
        m_nextUploadNs = now + m_uploadIntervalNs;
    }
    if (m_noise)
        m_nextNoiseNs = now + m_shaper.nextNoiseDelayNs();
    if (m_options.floodSeconds > 0)
        startFlood(now, m_options.floodSeconds);

    while (m_running) {
        now = monotonicNs();
        int timeoutMs = -1;
        const std::int64_t deadline = nextDeadline();
        if (deadline >= 0) {
            const std::int64_t remaining = deadline - now;
            if (remaining <= 0) {
                timeoutMs = 0;
            } else if (remaining < preciseSleepNs) {
                sleepUntil(deadline);
                timeoutMs = 0;
            } else {
                timeoutMs = static_cast<int>(std::min<std::int64_t>(remaining / nsPerMs, 60000));
            }
        }

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {signalPipe[0], POLLIN, 0};
        const nfds_t stdinSlot = m_stdinOpen ? count++ : 0;
        if (m_stdinOpen)
            fds[stdinSlot] = {STDIN_FILENO, POLLIN, 0};
        const bool watchLine = m_connected && m_line.fd() >= 0;
        const nfds_t lineSlot = watchLine ? count++ : 0;
        if (watchLine) {
            short events = POLLIN;
            if (m_txBlocked || flooding(now))
                events |= POLLOUT;
            fds[lineSlot] = {m_line.fd(), events, 0};
        }

        if (poll(fds, count, timeoutMs) < 0 && errno != EINTR) {
            std::perror("kc4420-sim: poll");
            break;
        }
        now = monotonicNs();
        if (fds[0].revents & POLLIN)
            break;
        if (m_stdinOpen && fds[stdinSlot].revents)
            readControl(now);
        if (watchLine && m_connected && m_line.fd() >= 0) {
            const short revents = fds[lineSlot].revents;
            if (revents & POLLIN)
                readLine(now);
            if (m_connected && (revents & (POLLHUP | POLLERR | POLLNVAL)))
                markDisconnected(now);
            if (m_connected && (revents & POLLOUT)) {
                m_txBlocked = false;
                if (flooding(now))
                    floodSome(now);
            }
        }
        runTimers(monotonicNs());
    }

    printLine(formatStats(m_stats));
    return 0;
}

bool SimRunner::openLine(std::int64_t now)
{
    std::string error;
    if (!m_line.open(m_store.word(reg::BaudRate), error)) {
        std::fprintf(stderr, "kc4420-sim: %s\n", error.c_str());
        return false;
    }
    // Nobody has the line open yet as far as we know; the first check tells.
    m_connected = false;
    m_recheckNs = now;
    return true;
}

void SimRunner::announce()
{
    if (m_line.isPty())
        printLine("PTY " + m_line.peerPath());
}

std::int64_t SimRunner::nextDeadline() const
{
    std::int64_t deadline = -1;
    if (!m_rx.empty() || m_rxOverflow)
        earliest(deadline, m_lastRxNs + frameGapNs());
    if (!m_tx.empty() && !m_txBlocked)
        earliest(deadline, m_tx.front().dueNs);
    // An upload waits for a reply in progress; the reply's own deadline wakes us.
    if (m_tx.empty())
        earliest(deadline, m_nextUploadNs);
    earliest(deadline, m_nextDriftNs);
    earliest(deadline, m_nextNoiseNs);
    earliest(deadline, m_floodEndNs);
    if (!m_connected)
        earliest(deadline, m_recheckNs);
    return deadline;
}

std::int64_t SimRunner::frameGapNs() const
{
    if (m_options.frameGapMs > 0)
        return static_cast<std::int64_t>(m_options.frameGapMs * nsPerMs);
    // 3.5 characters of 11 bits; fixed 1.75 ms above 19200 baud; never under 2 ms,
    // since a pseudo-terminal under load delivers bytes less evenly than a UART.
    const int baud = std::max<int>(1, m_store.word(reg::BaudRate));
    const std::int64_t gap = baud > 19200 ? 1'750'000 : 38'500'000'000LL / baud;
    return std::max<std::int64_t>(gap, preciseSleepNs);
}

void SimRunner::readLine(std::int64_t now)
{
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_line.fd(), buffer, sizeof buffer);
        if (n > 0) {
            // Overlong input cannot be a request; keep only the fact that it was there.
            const std::size_t room = maxFrameBytes - std::min(maxFrameBytes, m_rx.size());
            const auto take = std::min<std::size_t>(room, static_cast<std::size_t>(n));
            m_rx.insert(m_rx.end(), buffer, buffer + take);
            if (take < static_cast<std::size_t>(n))
                m_rxOverflow = true;
            m_lastRxNs = now;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            markDisconnected(now);
        return;
    }
}

void SimRunner::readControl(std::int64_t now)
{
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_stdinOpen = false;
        // With a controller attached, losing it means nobody can stop us any more.
        if (m_options.control)
            m_running = false;
        return;
    }
    m_controlBuffer.append(buffer, static_cast<std::size_t>(n));
    for (auto newline = m_controlBuffer.find('\n'); newline != std::string::npos;
         newline = m_controlBuffer.find('\n')) {
        const std::string line = m_controlBuffer.substr(0, newline);
        m_controlBuffer.erase(0, newline + 1);
        runCommand(parseControlCommand(line), now);
        if (!m_running)
            return;
    }
    if (m_controlBuffer.size() > maxControlLine) {
        std::fprintf(stderr, "kc4420-sim: control line too long, discarded\n");
        m_controlBuffer.clear();
    }
}

void SimRunner::runCommand(const ControlCommand &command, std::int64_t now)
{
    if (command.kind == CommandKind::Empty)
        return;
    if (command.kind == CommandKind::Quit) {
        m_running = false;
        return;
    }
    if (command.kind == CommandKind::Invalid) {
        std::fprintf(stderr, "kc4420-sim: %s\n", command.problem.c_str());
        return;
    }
    if (!m_options.control) {
        std::fprintf(stderr, "kc4420-sim: control commands need --control\n");
        return;
    }
    switch (command.kind) {
    case CommandKind::Drop:
        drop();
        break;
    case CommandKind::Restore:
        restore(now);
        break;
    case CommandKind::Silent:
        m_silent = command.on;
        break;
    case CommandKind::Noise:
        m_noise = command.on;
        m_nextNoiseNs = m_noise ? now + m_shaper.nextNoiseDelayNs() : -1;
        break;
    case CommandKind::Flood:
        startFlood(now, command.seconds);
        break;
    case CommandKind::Set:
        m_store.setWord(command.index, command.word);
        // Like a write from the line, a new interval restarts the upload pace.
        if (command.index == reg::UploadInterval && m_nextUploadNs >= 0) {
            m_uploadIntervalNs = m_store.word(reg::UploadInterval) * nsPerSecond;
            m_nextUploadNs = now + m_uploadIntervalNs;
        }
        break;
    case CommandKind::Registers: {
        std::vector<std::uint16_t> words;
        for (int i = 0; i < reg::Count; ++i)
            words.push_back(m_store.word(i));
        printLine(formatRegisters(words));
        break;
    }
    case CommandKind::Stats:
        printLine(formatStats(m_stats));
        break;
    default:
        break;
    }
}

void SimRunner::runTimers(std::int64_t now)
{
    if ((!m_rx.empty() || m_rxOverflow) && now >= m_lastRxNs + frameGapNs())
        finishFrame(now);
    writeDue(now);

    if (m_nextDriftNs >= 0 && now >= m_nextDriftNs) {
        m_store.drift(m_driftRng);
        m_nextDriftNs = std::max(m_nextDriftNs + nsPerSecond, now);
    }
    if (m_nextUploadNs >= 0 && now >= m_nextUploadNs && m_tx.empty()) {
        sendUpload(now);
        m_nextUploadNs += m_uploadIntervalNs;
        if (m_nextUploadNs <= now)
            m_nextUploadNs = now + m_uploadIntervalNs;
    }
    if (m_nextNoiseNs >= 0 && now >= m_nextNoiseNs) {
        sendNoise(now);
        m_nextNoiseNs = now + m_shaper.nextNoiseDelayNs();
    }
    if (m_floodEndNs >= 0 && now >= m_floodEndNs) {
        m_floodEndNs = -1;
        printLine(formatFloodReport(m_floodWritten, now - m_floodStartNs));
    }
    if (!m_connected && m_recheckNs >= 0 && now >= m_recheckNs)
        checkReconnected(now);
}

void SimRunner::finishFrame(std::int64_t now)
{
    const std::vector<std::uint8_t> frame = std::move(m_rx);
    const bool overflow = m_rxOverflow;
    m_rx.clear();
    m_rxOverflow = false;
    ++m_stats.requests;

    // A jammed line corrupts the request too, so nothing is executed while flooding.
    if (overflow || m_silent || flooding(now) || !m_connected) {
        ++m_stats.ignored;
        return;
    }
    Outcome outcome = m_slave.handleFrame(frame);
    if (outcome.disposition != Disposition::Answered) {
        ++m_stats.ignored;
        return;
    }
    if (outcome.writtenRegister == reg::UploadInterval && m_nextUploadNs >= 0) {
        m_uploadIntervalNs = m_store.word(reg::UploadInterval) * nsPerSecond;
        m_nextUploadNs = now + m_uploadIntervalNs;
    }
    ++m_stats.replies;
    queueReply(std::move(outcome.reply), now);
}

void SimRunner::queueReply(std::vector<std::uint8_t> reply, std::int64_t now)
{
    std::int64_t start = now + static_cast<std::int64_t>(m_options.replyDelayMs * nsPerMs);
    if (!m_tx.empty())
        start = std::max(start, m_tx.back().dueNs);
    const std::size_t first = m_tx.size();
    for (Piece &piece : m_shaper.shape(std::move(reply)))
        m_tx.push_back({std::move(piece.bytes), start + piece.offsetNs});
    if (m_tx.size() > first)
        m_tx.back().endsReply = true;
}

void SimRunner::writeDue(std::int64_t now)
{
    while (m_connected && !m_txBlocked && !m_tx.empty() && m_tx.front().dueNs <= now) {
        Timed &piece = m_tx.front();
        const ssize_t n = ::write(m_line.fd(), piece.bytes.data(), piece.bytes.size());
        if (n == static_cast<ssize_t>(piece.bytes.size())) {
            const bool replyDone = piece.endsReply;
            m_tx.pop_front();
            if (replyDone && m_options.stampReplies)
                printLine(formatSentStamp(monotonicNs()));
        } else if (n >= 0) {
            piece.bytes.erase(piece.bytes.begin(), piece.bytes.begin() + n);
            m_txBlocked = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_txBlocked = true;
        } else if (errno != EINTR) {
            markDisconnected(now);
        }
    }
}

void SimRunner::sendUpload(std::int64_t now)
{
    // Like a real line with nobody listening, records sent into the void are lost.
    if (!m_connected || flooding(now))
        return;
    const std::string record = uploadRecord(m_store.temperature(), m_store.humidity());
    const ssize_t n = ::write(m_line.fd(), record.data(), record.size());
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            markDisconnected(now);
        return;
    }
    ++m_stats.uploads;
    if (static_cast<std::size_t>(n) < record.size()) {
        // Finish a record once started, or the reader sees a torn one.
        m_tx.push_back({std::vector<std::uint8_t>(record.begin() + n, record.end()), now});
        m_txBlocked = true;
    }
}

void SimRunner::sendNoise(std::int64_t now)
{
    // Only between exchanges: never inside a request being received or a reply going out.
    if (!m_connected || !m_tx.empty() || !m_rx.empty() || flooding(now))
        return;
    const std::vector<std::uint8_t> burst = m_shaper.noiseBurst();
    const ssize_t n = ::write(m_line.fd(), burst.data(), burst.size());
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        markDisconnected(now);
}

void SimRunner::floodSome(std::int64_t now)
{
    if (m_floodBytes.empty()) {
        m_floodBytes.resize(4096);
        m_shaper.fillRandom(m_floodBytes);
    }
    // Replies queued before the jam would only come out of it garbled.
    m_tx.clear();
    for (int i = 0; i < floodChunksPerTurn && m_connected; ++i) {
        const ssize_t n = ::write(m_line.fd(), m_floodBytes.data(), m_floodBytes.size());
        if (n > 0)
            m_floodWritten += static_cast<unsigned long long>(n);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            if (errno != EINTR)
                markDisconnected(now);
        }
    }
}

void SimRunner::startFlood(std::int64_t now, double seconds)
{
    // A flood asked for during another one extends it; the report covers both.
    if (!flooding(now)) {
        m_floodStartNs = now;
        m_floodWritten = 0;
    }
    m_floodEndNs = now + static_cast<std::int64_t>(seconds * nsPerSecond);
}

void SimRunner::markDisconnected(std::int64_t now)
{
    m_connected = false;
    if (m_line.fd() >= 0) {
        std::uint8_t buffer[512];
        while (::read(m_line.fd(), buffer, sizeof buffer) > 0) {
        }
    }
    m_rx.clear();
    m_rxOverflow = false;
    m_tx.clear();
    m_txBlocked = false;
    m_line.discardUnread();
    m_recheckNs = m_line.fd() >= 0 ? now + reconnectCheckNs : -1;
}

void SimRunner::checkReconnected(std::int64_t now)
{
    pollfd probe{m_line.fd(), POLLIN, 0};
    if (poll(&probe, 1, 0) >= 0 && !(probe.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        m_connected = true;
        m_recheckNs = -1;
        return;
    }
    m_recheckNs = now + reconnectCheckNs;
}

void SimRunner::drop()
{
    // An unplugged adapter takes its stable name with it, so a path that
    // named the line must not lead to whatever pseudo-terminal comes next.
    m_line.removeLink();
    m_line.close();
    m_connected = false;
    m_recheckNs = -1;
    m_rx.clear();
    m_rxOverflow = false;
    m_tx.clear();
    m_txBlocked = false;
    m_floodEndNs = -1;
}

void SimRunner::restore(std::int64_t now)
{
    drop();
    if (openLine(now))
        announce();
}

} // namespace kcsim
