#include "Bus.h"
#include "Crc16.h"
#include "HexText.h"
#include "LineEndpoint.h"
#include "ModbusSlave.h"
#include "OtherMaster.h"
#include "SimOptions.h"
#include "UploadRecord.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

// The simulated module's own contract: what it answers to what. Frames and their
// CRCs were worked out apart from this code, with a bitwise CRC-16/MODBUS.

namespace {

using Steps = std::vector<std::pair<const char *, const char *>>;

// A fresh module at address 1 per case; each step a request and its reply, "" for silence.
const std::pair<const char *, Steps> exchanges[] = {
    {"ReadAll",
     {{"01 03 00 00 00 0F 05 CE",
       "01 03 1E 09 E6 19 78 00 00 00 00 00 00 13 88 FC 17 23 28 03 E8 00 01 00 02 00 05 "
       "25 80 00 01 00 01 A2 3F"}}},
    {"RegisterRange",
     {{"01 03 00 0E 00 01 E5 C9", "01 03 02 00 01 79 84"},
      {"01 03 00 0E 00 02 A5 C8", "01 83 02 C0 F1"},
      {"01 03 00 00 00 00 45 CA", "01 83 03 01 31"}}},
    {"Station250ReadsTheAddress",
     {{"FA 03 00 00 00 01 91 81", "01 03 02 09 E6 3F 9E"}, {"FA 06 0A 00 00 01 5E 59", ""}}},
    {"WriteIsReadBack",
     {{"01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B"},
      {"01 03 00 03 00 01 74 0A", "01 03 02 FF 9C F9 DD"},
      {"01 06 0A 16 00 02 EA 17", "01 06 0A 16 00 02 EA 17"},
      {"01 06 0A 18 00 01 CB D5", "01 86 02 C3 A1"},
      {"01 06 0A 01 00 01 1A 12", "01 86 02 C3 A1"},
      {"01 06 0A 10 00 00 8B D7", "01 86 03 02 61"}, // a refused write changes nothing
      {"01 03 00 0B 00 01 F5 C8", "01 03 02 00 05 78 47"}}},
    {"AddressChange", // the echo still leaves from the old address
     {{"01 06 0B 00 00 FB CA 6D", "01 86 03 02 61"},
      {"01 06 0B 00 00 2A 0A 31", "01 06 0B 00 00 2A 0A 31"},
      {"01 03 00 00 00 01 84 0A", ""},
      {"2A 03 00 00 00 01 82 11", "2A 03 02 09 E6 1B 98"}}},
    {"DeviceInformation", // the model text cut to eleven characters
     {{"01 26 00 00 00 05 C8 0E", "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3"}}},
    {"BadCrcOtherStationTooShort",
     {{"01 03 00 00 00 0F 05 CF", ""}, {"02 03 00 00 00 01 84 39", ""}, {"01 7E 80", ""}}},
    {"UnknownFunction", {{"01 10 00 00 00 01 01 C9", "01 90 01 8D C0"}}},
    // Humidity 65.20 under a lower limit of 70.00; then temperature 25.34 over an
    // upper limit of -1.00 (stored 65435), which counts first; limits are inclusive.
    {"AlarmFollowsTheLimits",
     {{"01 06 0A 0A 1B 58 A1 1A", "01 06 0A 0A 1B 58 A1 1A"},
      {"01 03 00 02 00 01 25 CA", "01 03 02 00 02 39 85"},
      {"01 06 0A 04 FF 9B CB 88", "01 06 0A 04 FF 9B CB 88"},
      {"01 03 00 02 00 01 25 CA", "01 03 02 00 01 79 84"},
      {"01 06 0A 04 09 E6 4C 09", "01 06 0A 04 09 E6 4C 09"},
      {"01 03 00 02 00 01 25 CA", "01 03 02 00 02 39 85"}}},
};

TEST(SimModule, AnswersEachRequestAsTheModuleDoes)
{
    for (const auto &[name, steps] : exchanges) {
        kcsim::RegisterStore store;
        kcsim::ModbusSlave slave(store, 1, "KC4420P-V12-B");
        for (const auto &[request, reply] : steps)
            EXPECT_EQ(hex(slave.handleFrame(bytes(request)).reply), reply)
                << name << ": " << request;
    }
}

// The modules the options put on a line set to 9600 baud; a step may be a control command.
// A reply is a pattern: ".." stands for any byte.
const std::pair<const char *, Steps> lineCases[] = {
    {"--stations 1,3",
     {{"FA 03 00 00 00 01 91 81", "03 03 02 09 E6 7F DE"}, // both answer: ORed, no valid CRC
      {"03 03 00 00 00 01 85 E8", "03 03 02 09 E6 46 5E"},
      {"03 26 00 00 00 05 C9 EC", "03 26 0B 4B 43 34 34 32 30 50 2D 30 30 33 56 2E"}}},
    {"--stations 1,3 --set 0=20610", // ORed, station 3's reply whole; its CRC spoilt
     {{"FA 03 00 00 00 01 91 81", "03 03 02 50 82 7D 1A"}}},
    {"--stations 1,3 --bad-crc-station 3 --silent-station 1", // the CRC's high byte inverted
     {{"FA 03 00 00 00 01 91 81", "03 03 02 09 E6 46 A1"}, {"01 03 00 00 00 01 84 0A", ""}}},
    {"--stations 1,3 --station-baud 3=9600 --baud 19200",
     {{"FA 03 00 00 00 01 91 81", "03 03 02 09 E6 46 5E"}, {"01 03 00 00 00 01 84 0A", ""}}},
    {"--baud 9600", // a written rate is the one it listens at from then on
     {{"01 06 0A 12 4B 00 1C E7", "01 06 0A 12 4B 00 1C E7"}, {"01 03 00 0C 00 01 44 09", ""}}},
    {"--refuse-writes 4 --answer-as 9", // even the address change; nothing is stored
     {{"01 06 0B 00 00 2A 0A 31", "09 86 04 C2 61"},
      {"01 06 0A 00 FF 9C CB 8B", "09 86 04 C2 61"},
      {"09 03 00 03 00 01 75 42", ""},
      {"answer-as off", ""},
      {"01 03 00 03 00 01 74 0A", "01 03 02 00 00 B8 44"},
      {"refuse off", ""},
      {"01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B"}}},
    {"--ignore-writes", // echoed, not stored, until switched off
     {{"01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B"},
      {"01 03 00 03 00 01 74 0A", "01 03 02 00 00 B8 44"},
      {"ignore-writes off", ""},
      {"01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B"},
      {"01 03 00 03 00 01 74 0A", "01 03 02 FF 9C F9 DD"}}},
    {"--stations 3,1 --collisions first", // the lowest station wins, not the first set up
     {{"FA 03 00 00 00 01 91 81", "01 03 02 09 E6 3F 9E"},
      {"collisions garble", ""},
      {"FA 03 00 00 00 01 91 81", "03 03 02 09 E6 7F DE"}}},
    {"--twin 1", // alike, so ORed they would pass; with first, the one set up first wins
     {{"01 03 00 00 00 01 84 0A", "01 03 02 09 E6 3F 61"},
      {"collisions first", ""},
      {"01 03 00 00 00 01 84 0A", "01 03 02 09 E6 3F 9E"}}},
    {"--twin 1 --silent-station 1", {{"01 03 00 00 00 01 84 0A", ""}}},
    {"--baud 19200 --wrong-rate-garbage", // about as long as the reply would be
     {{"01 03 00 00 00 01 84 0A", ".. .. .. .. .. .. .."},
      {"01 26 00 00 00 05 C8 0E", ".. .. .. .. .. .. .. .. .. .. .. .. .. .. .. .."}}},
    {"", // another station's request leaves it armed; the write it swallows is not done
     {{"silent-once", ""},
      {"02 03 00 00 00 01 84 39", ""},
      {"01 06 0A 00 FF 9C CB 8B", ""},
      {"01 03 00 03 00 01 74 0A", "01 03 02 00 00 B8 44"}}},
};

TEST(SimLine, ModulesAnswerForThemselvesAndCollide)
{
    for (const auto &[options, steps] : lineCases) {
        kcsim::Bus bus(kcsim::parseOptions(words(std::string("kc4420-sim ") + options)).options);
        for (const auto &[request, reply] : steps) {
            if (request[2] != ' ') { // a control command
                EXPECT_TRUE(bus.apply(kcsim::parseControlCommand(request))) << request;
                continue;
            }
            const std::string got = hex(bus.handle(bytes(request), 9600).bytes);
            EXPECT_TRUE(std::regex_match(got, std::regex(reply)))
                << options << ": " << request << " -> " << got;
        }
    }
}

TEST(SimLine, RepliesAreSpoiltAsTheFaultsAsk)
{
    const std::string clean = "01 03 02 09 E6 3F 9E";
    // What replies in a row become; "flipped": the reply with exactly one bit changed.
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"--stray-before FF:2 --cut-replies 2", {"FF FF 01 03 02 09 E6"}},
        {"--stray-before 0", {"00 " + clean}},
        {"--cut-replies 200", {"01"}},
        {"--crc-burst 3:2", {clean, "flipped", "flipped", clean, "flipped", "flipped", clean}},
        {"--crc-burst 1:1", {"flipped", "flipped"}},
    };
    for (const auto &[options, replies] : cases) {
        kcsim::LineShaper shaper(
            kcsim::parseOptions(words(std::string("kc4420-sim ") + options)).options.shape, 1);
        for (const std::string &expected : replies) {
            std::vector<std::uint8_t> line;
            for (const kcsim::Piece &piece : shaper.shape(bytes(clean)))
                line.insert(line.end(), piece.bytes.begin(), piece.bytes.end());
            if (expected != "flipped") {
                EXPECT_EQ(hex(line), expected) << options;
                continue;
            }
            std::size_t changed = line.size() == 7 ? 0 : 99;
            for (std::size_t i = 0; i < line.size() && i < 7; ++i)
                changed += std::bitset<8>(line[i] ^ bytes(clean)[i]).count();
            EXPECT_EQ(changed, 1u) << options << ": " << hex(line);
        }
    }
}

TEST(SimLine, OtherMasterGoesRoundItsStations)
{
    // Its round: all, all, two, all, register 5 rewritten, all, nobody, two.
    const std::pair<const char *, std::vector<const char *>> cases[] = {
        {"--stations 1,3",
         {"01 03 00 00 00 0F 05 CE", "03 03 00 00 00 0F 04 2C", "01 03 00 00 00 02 C4 0B",
          "03 03 00 00 00 0F 04 2C", "01 06 0A 04 13 88 C6 85", "03 03 00 00 00 0F 04 2C",
          "63 03 00 00 00 0F 0D 8C", "01 03 00 00 00 02 C4 0B", "03 03 00 00 00 0F 04 2C"}},
        // Nobody is at 100 to have its word rewritten, so it is read; nobody skips
        // the stations taken.
        {"--stations 1-99 --master-poll 10 --master-stations 100",
         {"64 03 00 00 00 0F 0C 3B", "64 03 00 00 00 0F 0C 3B", "64 03 00 00 00 02 CD FE",
          "64 03 00 00 00 0F 0C 3B", "64 03 00 00 00 0F 0C 3B", "64 03 00 00 00 0F 0C 3B",
          "65 03 00 00 00 0F 0D EA"}},
    };
    for (const auto &[options, requests] : cases) {
        const kcsim::SimOptions parsed =
            kcsim::parseOptions(words(std::string("kc4420-sim ") + options)).options;
        const kcsim::Bus bus(parsed);
        kcsim::OtherMaster master(parsed.masterStations, bus);
        for (const char *request : requests)
            EXPECT_EQ(hex(master.nextRequest(bus)), request) << options;
    }
}

TEST(SimModule, StationListsNameEachModuleOnce)
{
    // A list, then the modules it makes; none where it is refused.
    for (const std::string row :
         {"1,7,200> 1 7 200", "3-6> 3 4 5 6", "1,5-7> 1 5 6 7", "250> 250", "0>", "251>", "6-3>",
          "1,1>", "1-3,2>", "1,,2>", "1,>", "-3>", "1->", "1-2-3>", "+1>", ">"}) {
        const std::string list = row.substr(0, row.find('>'));
        std::string made = list + ">";
        for (const auto &module :
             kcsim::parseOptions({"kc4420-sim", "--stations", list}).options.modules)
            made += " " + std::to_string(module.address);
        EXPECT_EQ(made, row);
    }
}

TEST(SimModule, SignedRegistersDecodeAsTheModuleStoresThem)
{
    // Readings are negative above 20000, limits and offsets above 32768, the rest
    // never; a negative value v is stored as 65535 + v.
    const int cases[][3] = {{0, 20000, 20000}, {0, 20001, -45534}, {1, 65535, 0},
                            {5, 32768, 32768}, {6, 32769, -32766}, {9, 65535, 65535}};
    for (const auto &[index, word, hundredths] : cases) {
        kcsim::RegisterStore store;
        store.setWord(index, static_cast<std::uint16_t>(word));
        EXPECT_EQ(store.hundredths(index), hundredths) << index << "=" << word;
    }
}

TEST(SimModule, UploadRecordRoundsToTenthsAndKeepsItsWidth)
{
    const std::tuple<int, int, const char *> cases[] = {{2535, 6520, "[025.4,065.2]"},
                                                        {-535, 9999, "[-05.4,100.0]"},
                                                        {-4, -5, "[000.0,-00.1]"},
                                                        {-45534, 100000, "[-99.9,999.9]"}};
    for (const auto &[temperature, humidity, record] : cases)
        EXPECT_EQ(kcsim::uploadRecord(temperature, humidity), record);
}

TEST(SimModule, OptionsTakeOnlyWhatTheModuleWould)
{
    const auto error = [](const std::string &line) {
        return kcsim::parseOptions(words("kc4420-sim " + line)).error;
    };
    std::istringstream refused(
        "--address 251|--address 0|--set 2=1|--set 11=0|--set 12=38400|--set 13=3|--set 15=1|"
        "--reply-delay nan|--bogus|stray|--stations 1,2 --address 3|"
        "--stations 1,2 --silent-station 3|--bad-crc-station 2|--station-baud 1=1200|--baud 14400|"
        "--refuse-writes 0|--answer-as 256|--twin 2|--collisions both|--tcp 65536|"
        "--tcp 0 --link /tmp/x|--stray-before 100|--stray-before F:0|--crc-burst 3:4|"
        "--crc-burst 0:0|--cut-replies 0|--master-stations 1|--master-poll 0");
    for (std::string line; std::getline(refused, line, '|');)
        EXPECT_NE(error(line), "") << line;
    // Parsing again starts afresh.
    EXPECT_EQ(error("--address 250 --set 0=65000 --upload-ms 250 --baud 38400 --refuse-writes 255 "
                    "--answer-as 0 --station-baud 250=2400 --silent-station 250 --twin 250 "
                    "--tcp 65535 --stray-before fF:255 --crc-burst 5:5 --master-poll 1 "
                    "--master-stations 1-250"),
              "");
    // And so are the control commands.
    for (const char *line : {"collisions both", "echo", "crc-burst 2:3", "crc-burst 0:0", "cut 0",
                             "cut 256", "kick 1"})
        EXPECT_EQ(kcsim::parseControlCommand(line).kind, kcsim::CommandKind::Invalid) << line;
}

TEST(SimModule, LinkNeverReplacesARegularFile)
{
    char path[] = "/tmp/kc-sim-linkXXXXXX";
    ::close(mkstemp(path));
    std::string error;
    EXPECT_FALSE(kcsim::LineEndpoint("", path).open(9600, error));
    struct stat info
    {
    };
    EXPECT_EQ(lstat(path, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    ::unlink(path);
}

} // namespace
