// Google Benchmark over the per-reply work of the tool, without the window: each
// result is printed as one line ("micro_<name> ns_per_op=..."), the median of five
// repetitions.

#include "operations/Replies.h"
#include "operations/Requests.h"
#include "protocol/FrameCodec.h"
#include "protocol/PortNaming.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// A register reply with fifteen words, as the module sends it.
QByteArray registerReply()
{
    const std::uint16_t words[15] = {2534, 6520, 0, 0, 0,    5000, 64535, 9000,
                                     1000, 1,    2, 5, 9600, 1,    1};
    QByteArray reply;
    reply.append(char(0x01)).append(char(0x03)).append(char(30));
    for (const std::uint16_t w : words)
        reply.append(char(w >> 8)).append(char(w & 0xFF));
    const std::uint16_t crc = kc::crc16Value(reply.constData(), int(reply.size()));
    reply.append(char(crc & 0xFF)).append(char(crc >> 8));
    return reply;
}

void crc16Request(benchmark::State &state)
{
    QByteArray frame = QByteArray::fromHex("01030000000F0000");
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame.data());
        benchmark::DoNotOptimize(kc::Crc16(frame, 5));
    }
}

void crc16Reply(benchmark::State &state)
{
    const QByteArray reply = registerReply();
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply.constData());
        benchmark::DoNotOptimize(kc::Crc16(reply, 32));
    }
}

void formatHexReply(benchmark::State &state)
{
    const QByteArray reply = registerReply();
    for (auto _ : state)
        benchmark::DoNotOptimize(kc::receivedTrace(reply));
}

void decodeRegisterReply(benchmark::State &state)
{
    const QByteArray reply = registerReply();
    const kc::Request asked = kc::Request::registerRead(1, 0, 15);
    for (auto _ : state) {
        const auto outcome = kc::judgeReply(asked, reply, false);
        QStringList texts;
        for (const kc::RegisterValue &v : kc::registerValues(outcome.value_or(kc::Outcome{})))
            texts << v.text();
        if (texts.size() != 15)
            state.SkipWithError("reply not decoded into fifteen texts");
        benchmark::DoNotOptimize(texts);
    }
}

void decodeUploadRecord(benchmark::State &state)
{
    const QByteArray record("[025.3,060.7]");
    for (auto _ : state) {
        const auto readings = kc::decodeUploadRecord(record);
        if (!readings)
            state.SkipWithError("record not decoded");
        benchmark::DoNotOptimize(readings);
    }
}

void validateReadBoxes(benchmark::State &state)
{
    const kc::ReadBoxes boxes{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("0"),
                              QStringLiteral("15")};
    for (auto _ : state) {
        const kc::Planned planned = kc::planRegisterRead(boxes);
        if (!std::holds_alternative<kc::Request>(planned))
            state.SkipWithError("boxes refused");
        benchmark::DoNotOptimize(planned);
    }
}

// One look through the system's serial devices; the window's port-list tooltips do one
// per list entry.
void portScan(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(kc::findTtyDevices());
}

#define KC_MICRO(fn) BENCHMARK(fn)->Repetitions(5)->ReportAggregatesOnly(true)
KC_MICRO(crc16Request);
KC_MICRO(crc16Reply);
KC_MICRO(formatHexReply);
KC_MICRO(decodeRegisterReply);
KC_MICRO(decodeUploadRecord);
KC_MICRO(validateReadBoxes);
KC_MICRO(portScan);

// One line per benchmark, from its median aggregate.
class LineReporter : public benchmark::BenchmarkReporter
{
public:
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                std::printf("micro_%s error=\"%s\"\n", run.run_name.function_name.c_str(),
                            run.error_message.c_str());
                continue;
            }
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            std::printf("micro_%s ns_per_op=%.1f cpu_ns_per_op=%.1f repetitions=%lld\n",
                        run.run_name.function_name.c_str(), run.GetAdjustedRealTime() * toNs,
                        run.GetAdjustedCPUTime() * toNs, static_cast<long long>(run.repetitions));
        }
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    LineReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
