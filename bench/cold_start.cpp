// Process start to first paint, for the tool's start-up and for a bare Qt Widgets
// window, alternating runs on the same machine; the medians go on one line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Milliseconds from just before the spawn to the child's first paint; -1 on failure.
double startToPaintMs(const char *program)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char *argv[] = {const_cast<char *>(program), nullptr};
    pid_t pid = 0;
    const std::int64_t start = monotonicNs();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return -1;
    }
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const auto at = text.find("PAINTED ");
    if (at == std::string::npos)
        return -1;
    return double(std::atoll(text.c_str() + at + 8) - start) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    std::vector<double> tool, minimal;
    int failed = 0;
    // One unmeasured round first, so both start from a warm file cache.
    startToPaintMs(KC_START_TOOL_PATH);
    startToPaintMs(KC_START_MINIMAL_PATH);
    for (int i = 0; i < runs; ++i) {
        const double t = startToPaintMs(KC_START_TOOL_PATH);
        const double m = startToPaintMs(KC_START_MINIMAL_PATH);
        if (t < 0 || m < 0) {
            ++failed;
            continue;
        }
        tool.push_back(t);
        minimal.push_back(m);
    }
    const double t = median(tool), m = median(minimal);
    std::printf("cold_start platform=%s runs=%zu failed=%d tool_median_ms=%.1f tool_max_ms=%.1f "
                "minimal_median_ms=%.1f minimal_max_ms=%.1f ratio=%.2f\n",
                getenv("QT_QPA_PLATFORM"), tool.size(), failed, t,
                tool.empty() ? 0 : *std::max_element(tool.begin(), tool.end()), m,
                minimal.empty() ? 0 : *std::max_element(minimal.begin(), minimal.end()),
                m > 0 ? t / m : 0);
    return 0;
}
