#include "ModbusTcpServer.h"

#include <modbus.h>

#include <algorithm>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ModbusTcpServer::ModbusTcpServer(const std::vector<std::uint16_t> &words)
    : m_ctx(modbus_new_tcp("127.0.0.1", 0)), m_map(modbus_mapping_new(0, 0, 0x0B01, 0))
{
    std::copy(words.begin(), words.end(), m_map->tab_registers);
    // libmodbus waits this long before refusing a function it does not know.
    modbus_set_response_timeout(m_ctx, 0, 1);
    m_listen = modbus_tcp_listen(m_ctx, 1);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(m_listen, reinterpret_cast<sockaddr *>(&bound), &size) == 0)
        m_port = ntohs(bound.sin_port);
    m_thread = std::thread([this] { serve(); });
}

ModbusTcpServer::~ModbusTcpServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
    modbus_mapping_free(m_map);
    modbus_free(m_ctx);
}

std::uint16_t ModbusTcpServer::word(int address)
{
    std::lock_guard<std::mutex> lock(m_mapLock);
    return m_map->tab_registers[address];
}

void ModbusTcpServer::serve()
{
    int client = -1;
    while (!m_stop) {
        if (client >= 0 && m_drop.exchange(false))
            client = (::close(client), -1);
        pollfd ready{client >= 0 ? client : m_listen, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0) // 20 ms: how soon a stop or a drop is seen
            continue;
        if (client < 0) {
            client = ::accept(m_listen, nullptr, nullptr);
            continue;
        }
        modbus_set_socket(m_ctx, client);
        std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        const int length = modbus_receive(m_ctx, query);
        if (length < 0) { // closed by the client, or a request libmodbus refused
            client = (::close(client), -1);
            continue;
        }
        // libmodbus reads a function it does not know (the module's device
        // information) only to its code; the rest, by the header's length, goes.
        const int whole = length >= 6 ? 6 + (query[4] << 8 | query[5]) : 0;
        if (whole > length && whole <= MODBUS_TCP_MAX_ADU_LENGTH)
            ::recv(client, query + length, std::size_t(whole - length), MSG_WAITALL);
        std::lock_guard<std::mutex> lock(m_mapLock);
        if (length > 0)
            modbus_reply(m_ctx, query, length, m_map);
        const int address = length >= 12 ? query[8] << 8 | query[9] : 0;
        if (address >= 0x0A00 && address <= 0x0A16 && address % 2 == 0 && query[7] == 0x06)
            m_map->tab_registers[3 + (address - 0x0A00) / 2] = m_map->tab_registers[address];
    }
    if (client >= 0)
        ::close(client);
}
