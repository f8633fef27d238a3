#pragma once

#include "LineShaper.h"
#include "ModbusSlave.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kcsim {

// One module on the line as the options set it up.
struct ModuleSetup
{
    int address = 1;
    int baud = 0; // answers only requests sent at this rate; 0: at any rate
    bool badCrc = false;
    bool silent = false;
};

// What several replies on the line at once become.
enum class CollisionMode {
    Garble, // ORed into one frame that never passes
    First,  // the lowest station's reply whole, the others lost, as the stronger driver wins
};

// "garble" or "first", for the option and the control command alike.
bool parseCollisionMode(const std::string &text, CollisionMode &mode);

struct SimOptions
{
    int address = 1;
    std::vector<ModuleSetup> modules; // filled by parseOptions(): one at address, or --stations
    int baud = 0;                     // --baud, 0 when not given
    CollisionMode collisions = CollisionMode::Garble;
    bool wrongRateGarbage = false; // a module at another rate answers in garbage, not silence
    Quirks quirks;
    std::string device; // open this instead of creating a pseudo-terminal
    std::string link;
    int tcpPort = -1;        // listen on 127.0.0.1 at this port (0: one the system picks); -1: no
    bool echo = false;       // every request comes back to its sender before the reply
    double masterPollMs = 0; // the simulator's own master polls this often; 0: never
    std::vector<int> masterStations; // whom it polls; empty: every module
    std::string model = "KC4420P-V12";
    bool fixed = false;
    std::vector<std::pair<int, std::uint16_t>> initialWords;
    std::uint32_t seed = 0;
    bool seedGiven = false;
    double frameGapMs = 0; // 0: from the baud-rate register
    double replyDelayMs = 0;
    bool stampReplies = false; // print when each reply's last byte was written
    ShapeSettings shape;
    bool noise = false;
    bool silent = false;
    double floodSeconds = 0;
    bool upload = false;
    double uploadMs = 0; // 0: the interval register, in seconds
    bool control = false;
    bool help = false;
};

struct ParseResult
{
    SimOptions options;
    std::string error; // empty on success
};

// A decimal integer in [low, high] and nothing else.
bool parseInteger(const std::string &text, long low, long high, long &value);

// "EVERY:LEN", LEN consecutive replies out of every EVERY, 1 <= LEN <= EVERY.
bool parseBurst(const std::string &text, int &every, int &length);

ParseResult parseOptions(const std::vector<std::string> &args); // args[0] is the program name
std::string helpText(const std::string &program);

} // namespace kcsim
