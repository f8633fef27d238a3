#include "SimOptions.h"
#include "SimRunner.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    kcsim::ParseResult parsed = kcsim::parseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kc4420-sim: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(kcsim::helpText("kc4420-sim").c_str(), stdout);
        return 0;
    }
    if (!parsed.options.seedGiven)
        parsed.options.seed = std::random_device{}();

    kcsim::SimRunner runner(std::move(parsed.options));
    return runner.run();
}
