#include "SimRunner.h"

#include "Clock.h"
#include "UploadRecord.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kcsim {

SimRunner::SimRunner(SimOptions options)
    : m_options(std::move(options)),
      m_slave(m_store, static_cast<std::uint8_t>(m_options.address), m_options.model),
      m_shaper(m_options.shape, m_options.seed), m_driftRng(m_options.seed ^ 0x5A5A5A5Au),
      m_line(m_options.device, m_options.link, m_shaper), m_control(m_options.control),
      m_silent(m_options.silent), m_noise(m_options.noise)
{
    for (const auto &[index, word] : m_options.initialWords)
        m_store.setWord(index, word);
}

int SimRunner::run()
{
    if (!m_loop.start()) {
        std::perror("kc4420-sim: pipe");
        return 1;
    }
    std::int64_t now = monotonicNs();
    if (!openLine(now))
        return 1;

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
        m_line.startFlood(now, m_options.floodSeconds);

    const auto command = [this, &now](const ControlCommand &c) { return runCommand(c, now); };
    while (m_running) {
        const PollLoop::Ready ready = m_loop.wait(
            nextDeadline(), m_control.fd(), m_line.endpoint().fd(), m_line.events(monotonicNs()));
        if (ready.stop)
            break;
        now = monotonicNs();
        // With a controller attached, losing it means nobody can stop us any more.
        if (ready.control && !m_control.read(command) && m_options.control)
            m_running = false;
        if (ready.line)
            m_line.handle(ready.line, now);
        runTimers(monotonicNs());
    }

    ControlChannel::print(formatStats(m_stats));
    return 0;
}

bool SimRunner::openLine(std::int64_t now)
{
    std::string error;
    if (!m_line.open(m_store.word(reg::BaudRate), now, error)) {
        std::fprintf(stderr, "kc4420-sim: %s\n", error.c_str());
        return false;
    }
    if (m_line.endpoint().isPty())
        ControlChannel::print("PTY " + m_line.endpoint().peerPath());
    return true;
}

std::int64_t SimRunner::nextDeadline() const
{
    std::int64_t deadline = m_line.nextDeadline(frameGapNs());
    // An upload waits for a reply in progress; the reply's own deadline wakes us.
    if (!m_line.sending())
        earliest(deadline, m_nextUploadNs);
    earliest(deadline, m_nextDriftNs);
    earliest(deadline, m_nextNoiseNs);
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
    return std::max<std::int64_t>(gap, 2 * nsPerMs);
}

bool SimRunner::runCommand(const ControlCommand &command, std::int64_t now)
{
    switch (command.kind) {
    case CommandKind::Quit:
        m_running = false;
        break;
    case CommandKind::Drop:
        m_line.drop();
        break;
    case CommandKind::Restore:
        m_line.drop();
        openLine(now);
        break;
    case CommandKind::Silent:
        m_silent = command.on;
        break;
    case CommandKind::Noise:
        m_noise = command.on;
        m_nextNoiseNs = m_noise ? now + m_shaper.nextNoiseDelayNs() : -1;
        break;
    case CommandKind::Flood:
        m_line.startFlood(now, command.seconds);
        break;
    case CommandKind::Set:
        m_store.setWord(command.index, command.word);
        // Like a write from the line, a new interval restarts the upload pace.
        if (command.index == reg::UploadInterval)
            restartUploadPace(now);
        break;
    case CommandKind::Registers: {
        std::vector<std::uint16_t> words;
        for (int i = 0; i < reg::Count; ++i)
            words.push_back(m_store.word(i));
        ControlChannel::print(formatRegisters(words));
        break;
    }
    case CommandKind::Stats:
        ControlChannel::print(formatStats(m_stats));
        break;
    default:
        break;
    }
    return m_running;
}

void SimRunner::runTimers(std::int64_t now)
{
    Received request;
    if (m_line.takeRequest(now, frameGapNs(), request))
        answer(std::move(request), now);
    m_line.writeDue(now, [this] {
        if (m_options.stampReplies)
            ControlChannel::print(formatSentStamp(monotonicNs()));
    });

    if (m_nextDriftNs >= 0 && now >= m_nextDriftNs) {
        m_store.drift(m_driftRng);
        m_nextDriftNs = std::max(m_nextDriftNs + nsPerSecond, now);
    }
    if (m_nextUploadNs >= 0 && now >= m_nextUploadNs && !m_line.sending()) {
        if (m_line.sendRecord(uploadRecord(m_store.temperature(), m_store.humidity()), now))
            ++m_stats.uploads;
        m_nextUploadNs += m_uploadIntervalNs;
        if (m_nextUploadNs <= now)
            m_nextUploadNs = now + m_uploadIntervalNs;
    }
    if (m_nextNoiseNs >= 0 && now >= m_nextNoiseNs) {
        m_line.sendNoise(now);
        m_nextNoiseNs = now + m_shaper.nextNoiseDelayNs();
    }
    const std::string floodReport = m_line.floodReport(now);
    if (!floodReport.empty())
        ControlChannel::print(floodReport);
    m_line.recheck(now);
}

void SimRunner::answer(Received request, std::int64_t now)
{
    ++m_stats.requests;
    // A jammed line corrupts the request too, so nothing is executed while flooding.
    if (request.overflow || m_silent || m_line.flooding(now) || !m_line.connected()) {
        ++m_stats.ignored;
        return;
    }
    Outcome outcome = m_slave.handleFrame(request.bytes);
    if (outcome.disposition != Disposition::Answered) {
        ++m_stats.ignored;
        return;
    }
    if (outcome.writtenRegister == reg::UploadInterval)
        restartUploadPace(now);
    ++m_stats.replies;
    m_line.queueReply(std::move(outcome.reply),
                      now + static_cast<std::int64_t>(m_options.replyDelayMs * nsPerMs));
}

void SimRunner::restartUploadPace(std::int64_t now)
{
    if (m_nextUploadNs < 0)
        return;
    m_uploadIntervalNs = m_store.word(reg::UploadInterval) * nsPerSecond;
    m_nextUploadNs = now + m_uploadIntervalNs;
}

} // namespace kcsim
