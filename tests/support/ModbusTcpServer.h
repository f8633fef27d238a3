#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct _modbus;
struct _modbus_mapping_t;

// A Modbus TCP server on libmodbus, sharing no code with the tool: a framing
// fault the tool makes shows up as a request it does not answer. It serves one
// client at a time on 127.0.0.1 at a free port, from a thread of its own, so a
// test may wait on a child process meanwhile. Registers 0..14 hold the
// module's words; a write to a row's address (0x0A00 + 2 * (row - 3)) also
// lands in register row, as the module's map has it, so a read-back sees it.
class ModbusTcpServer
{
public:
    explicit ModbusTcpServer(const std::vector<std::uint16_t> &words);
    ~ModbusTcpServer();

    int port() const { return m_port; }
    std::uint16_t word(int address);
    // The client's connection is closed; the next one is let in.
    void dropClient() { m_drop = true; }

private:
    void serve();

    _modbus *m_ctx;
    _modbus_mapping_t *m_map;
    std::mutex m_mapLock;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false}, m_drop{false};
    std::thread m_thread;
};
