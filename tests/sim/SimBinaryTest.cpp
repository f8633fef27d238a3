#include "SimProcess.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace {

using Master = std::unique_ptr<modbus_t, void (*)(modbus_t *)>;

// A libmodbus master for station 1, which sets the line to baud; null when it cannot connect.
Master connect(const SimProcess &sim, int baud)
{
    Master master(modbus_new_rtu(sim.ptyPath().toLocal8Bit().constData(), baud, 'N', 8, 1),
                  [](modbus_t *ctx) {
                      modbus_close(ctx);
                      modbus_free(ctx);
                  });
    if (master && (modbus_set_slave(master.get(), 1) != 0 || modbus_connect(master.get()) != 0))
        master.reset();
    return master;
}

// The real binary on its pseudo-terminal, driven by libmodbus: a master sharing no
// code with the simulator checks the framing and CRC of every reply.
TEST(SimBinary, ReadsWritesReadsBackAndCountsEveryRequest)
{
    // -6.00 degrees lies within the default limits, so the alarm state stays 0.
    SimProcess sim({"--fixed", "--set", "0=64935", "--set", "1=5000", "--baud", "9600"});
    ASSERT_TRUE(sim.ready());
    // The pty's ends share line settings: at 9600 the module ignores what a master sends at
    // 19200. That master stays open, so the line is never seen to hang up.
    const Master other = connect(sim, 19200);
    ASSERT_TRUE(other) << modbus_strerror(errno);
    std::vector<std::uint16_t> words(15);
    EXPECT_EQ(modbus_read_registers(other.get(), 0, 1, words.data()), -1);
    const Master master = connect(sim, 9600);
    ASSERT_TRUE(master) << modbus_strerror(errno);

    ASSERT_EQ(modbus_read_registers(master.get(), 0, 15, words.data()), 15)
        << modbus_strerror(errno);
    EXPECT_EQ(words, (std::vector<std::uint16_t>{64935, 5000, 0, 0, 0, 5000, 64535, 9000, 1000, 1,
                                                 2, 5, 9600, 1, 1}));
    EXPECT_EQ(sim.registers(), words);
    EXPECT_EQ(modbus_read_registers(master.get(), 14, 2, words.data()), -1);
    EXPECT_EQ(errno, EMBXILADD);

    ASSERT_EQ(modbus_write_register(master.get(), 0x0A10, 60), 1) << modbus_strerror(errno);
    EXPECT_EQ(modbus_write_register(master.get(), 0x0A10, 0), -1);
    EXPECT_EQ(errno, EMBXILVAL);
    ASSERT_EQ(modbus_read_registers(master.get(), 11, 1, words.data()), 1)
        << modbus_strerror(errno);
    EXPECT_EQ(words[0], 60);

    EXPECT_EQ(sim.quit(), 0);
    EXPECT_EQ(sim.readLine(), "STATS requests=6 replies=5 ignored=1 uploads=0 rx_bytes=48 master_requests=0 master_replies=0");
}

} // namespace
