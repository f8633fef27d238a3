#include "SimRunner.h"

#include "Clock.h"
#include "UploadRecord.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kcsim {

namespace {

std::unique_ptr<LinePort> makePort(const SimOptions &options)
{
    if (options.tcpPort >= 0)
        return makeTcpPort(options.tcpPort, options.baud);
    return makeTerminalPort(options.device, options.link);
}

} // namespace

SimRunner::SimRunner(SimOptions options)
    : m_options(std::move(options)), m_bus(m_options), m_shaper(m_options.shape, m_options.seed),
      m_line(makePort(m_options), m_shaper, m_options.tcpPort >= 0), m_control(m_options.control),
      m_silent(m_options.silent), m_noise(m_options.noise), m_uploads(m_bus.modules().size()),
      m_otherMaster(m_options.masterStations, m_bus)
{
    m_line.setEcho(m_options.echo);
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
    if (m_options.masterPollMs > 0)
        m_nextMasterNs = now + static_cast<std::int64_t>(m_options.masterPollMs * nsPerMs);

    const auto command = [this, &now](const ControlCommand &c) { return runCommand(c, now); };
    std::vector<pollfd> lineFds;
    while (m_running) {
        lineFds.clear();
        m_line.watch(lineFds, monotonicNs());
        const PollLoop::Ready ready = m_loop.wait(nextDeadline(), m_control.fd(), lineFds);
        if (ready.stop)
            break;
        now = monotonicNs();
        // With a controller attached, losing it means nobody can stop us any more.
        if (ready.control && !m_control.read(command) && m_options.control)
            m_running = false;
        m_line.handle(lineFds, now);
        runTimers(monotonicNs());
    }

    m_stats.rxBytes = m_line.receivedBytes();
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
    const std::string announcement = m_line.port().announcement();
    if (!announcement.empty())
        ControlChannel::print(announcement);
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
    // The other master waits for the line to fall quiet, after a reply, a request of
    // the tool's or a flood; their own deadlines wake us.
    if (lineIdle(monotonicNs()))
        earliest(deadline, m_nextMasterNs);
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
    case CommandKind::Kick:
        if (!m_line.kick())
            std::fprintf(stderr, "kc4420-sim: kick acts on TCP clients (--tcp)\n");
        break;
    case CommandKind::Echo:
        m_line.setEcho(command.on);
        break;
    case CommandKind::CrcBurst:
        m_shaper.setBurst(command.value, command.length);
        break;
    case CommandKind::Cut:
        m_shaper.setCut(command.value);
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
        m_stats.rxBytes = m_line.receivedBytes();
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
    // The stamp is the time before the write: a reader woken by the last byte
    // may run before this process does again, and must not see its reply
    // stamped after it arrived.
    m_line.writeDue(now, [this, now] {
        if (m_options.stampReplies)
            ControlChannel::print(formatSentStamp(now));
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
    if (m_nextMasterNs >= 0 && now >= m_nextMasterNs && lineIdle(now)) {
        // Polled only while somebody hears it, so the counts are what a listener saw.
        if (m_line.connected())
            pollAsOtherMaster(now);
        const auto intervalNs = static_cast<std::int64_t>(m_options.masterPollMs * nsPerMs);
        m_nextMasterNs = std::max(m_nextMasterNs + intervalNs, now);
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
    LineReply reply = m_bus.handle(request.bytes, m_line.port().lineBaud());
    for (const std::size_t i : reply.intervalWritten)
        restartUploadPace(i, now);
    if (reply.bytes.empty()) {
        ++m_stats.ignored;
        return;
    }
    ++m_stats.replies;
    m_line.queueReply(std::move(reply.bytes),
                      now + static_cast<std::int64_t>(m_options.replyDelayMs * nsPerMs),
                      request.peer);
}

void SimRunner::pollAsOtherMaster(std::int64_t now)
{
    const std::vector<std::uint8_t> request = m_otherMaster.nextRequest(m_bus);
    const std::int64_t requestEndNs = m_line.queueTraffic(m_shaper.pace(request), now);
    ++m_stats.masterRequests;
    // That master is set to the modules' rate, whatever the tool's line is at.
    LineReply reply = m_bus.handle(request, AnyRate);
    for (const std::size_t i : reply.intervalWritten)
        restartUploadPace(i, now);
    if (m_silent || reply.bytes.empty())
        return;
    ++m_stats.masterReplies;
    // The module's usual turnaround: the frame gap that ends the request, then its delay.
    m_line.queueTraffic(m_shaper.shape(std::move(reply.bytes)),
                        requestEndNs + frameGapNs() +
                            static_cast<std::int64_t>(m_options.replyDelayMs * nsPerMs));
}

bool SimRunner::lineIdle(std::int64_t now) const
{
    return !m_line.sending() && !m_line.receiving() && !m_line.flooding(now);
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
        return modules;
    }
    modules = m_bus.at(station);
    if (modules.empty())
        std::fprintf(stderr, "kc4420-sim: no module at station %d\n", station);
    return modules;
}

} // namespace kcsim
