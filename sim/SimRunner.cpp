#include "SimRunner.h"

#include "Clock.h"
#include "UploadRecord.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kcsim {

SimRunner::SimRunner(SimOptions options)
    : m_options(std::move(options)), m_bus(m_options), m_shaper(m_options.shape, m_options.seed),
      m_line(m_options.device, m_options.link, m_shaper), m_control(m_options.control),
      m_silent(m_options.silent), m_noise(m_options.noise), m_uploads(m_bus.modules().size())
{
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
    for (std::size_t i = 0; m_options.upload && i < m_uploads.size(); ++i) {
        UploadPace &pace = m_uploads[i];
        pace.intervalNs = m_options.uploadMs > 0
                              ? static_cast<std::int64_t>(m_options.uploadMs * nsPerMs)
                              : m_bus.modules()[i].store.word(reg::UploadInterval) * nsPerSecond;
        pace.nextNs = now + pace.intervalNs;
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
    const int baud =
        m_options.baud > 0 ? m_options.baud : m_bus.modules().front().store.word(reg::BaudRate);
    if (!m_line.open(baud, now, error)) {
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
    for (const UploadPace &pace : m_uploads) {
        if (m_line.sending())
            break;
        earliest(deadline, pace.nextNs);
    }
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
    const int baud = std::max<int>(1, m_bus.modules().front().store.word(reg::BaudRate));
    const std::int64_t gap = baud > 19200 ? 1'750'000 : 38'500'000'000LL / baud;
    return std::max<std::int64_t>(gap, 2 * nsPerMs);
}

bool SimRunner::runCommand(const ControlCommand &command, std::int64_t now)
{
    if (m_bus.apply(command))
        return m_running;
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
        for (const std::size_t i : chosen(command.station)) {
            m_bus.modules()[i].store.setWord(command.index, command.word);
            // Like a write from the line, a new interval restarts the upload pace.
            if (command.index == reg::UploadInterval)
                restartUploadPace(i, now);
        }
        break;
    case CommandKind::Registers:
        // Without a station, the first module's words, as with one module on the line.
        for (const std::size_t i :
             command.station < 0 ? std::vector<std::size_t>{0} : chosen(command.station)) {
            std::vector<std::uint16_t> words;
            for (int index = 0; index < reg::Count; ++index)
                words.push_back(m_bus.modules()[i].store.word(index));
            ControlChannel::print(formatRegisters(words));
        }
        break;
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
        for (Module &module : m_bus.modules())
            module.store.drift(module.driftRng);
        m_nextDriftNs = std::max(m_nextDriftNs + nsPerSecond, now);
    }
    for (std::size_t i = 0; i < m_uploads.size(); ++i) {
        UploadPace &pace = m_uploads[i];
        if (pace.nextNs < 0 || now < pace.nextNs || m_line.sending())
            continue;
        const RegisterStore &store = m_bus.modules()[i].store;
        if (m_line.sendRecord(uploadRecord(store.temperature(), store.humidity()), now))
            ++m_stats.uploads;
        pace.nextNs += pace.intervalNs;
        if (pace.nextNs <= now)
            pace.nextNs = now + pace.intervalNs;
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
    // The rate is read per request: the tool may change it at any time.
    LineReply reply = m_bus.handle(request.bytes, m_line.endpoint().configuredBaud());
    for (const std::size_t i : reply.intervalWritten)
        restartUploadPace(i, now);
    if (reply.bytes.empty()) {
        ++m_stats.ignored;
        return;
    }
    ++m_stats.replies;
    m_line.queueReply(std::move(reply.bytes),
                      now + static_cast<std::int64_t>(m_options.replyDelayMs * nsPerMs));
}

void SimRunner::restartUploadPace(std::size_t module, std::int64_t now)
{
    UploadPace &pace = m_uploads[module];
    if (pace.nextNs < 0)
        return;
    pace.intervalNs = m_bus.modules()[module].store.word(reg::UploadInterval) * nsPerSecond;
    pace.nextNs = now + pace.intervalNs;
}

std::vector<std::size_t> SimRunner::chosen(int station)
{
    std::vector<std::size_t> modules;
    if (station < 0) {
        for (std::size_t i = 0; i < m_bus.modules().size(); ++i)
            modules.push_back(i);
    } else if (const int i = m_bus.find(station); i >= 0) {
        modules.push_back(static_cast<std::size_t>(i));
    } else {
        std::fprintf(stderr, "kc4420-sim: no module at station %d\n", station);
    }
    return modules;
}

} // namespace kcsim
