#include "RawCamera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace sdktest {

void put32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes moMessage(const char* tag, uint16_t opcode, const Bytes& payload, int64_t declaredLength) {
    Bytes out(tag, tag + 4);
    out.push_back(static_cast<uint8_t>(opcode));
    out.push_back(static_cast<uint8_t>(opcode >> 8));
    out.insert(out.end(), 9, 0);
    const auto length = static_cast<uint32_t>(
        declaredLength < 0 ? static_cast<int64_t>(payload.size()) : declaredLength);
    put32(out, length);
    put32(out, length);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes statusPayload(uint16_t status) {
    return Bytes{static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8)};
}

Bytes loginAnswer(const std::string& id, uint32_t version, uint16_t status) {
    Bytes payload = statusPayload(status);
    Bytes field(13, 0);
    std::memcpy(field.data(), id.data(), std::min<size_t>(id.size(), 12));
    payload.insert(payload.end(), field.begin(), field.end());
    put32(payload, version);
    put32(payload, 1);
    put32(payload, 2);
    return payload;
}

RawCamera::RawCamera() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::listen(m_listener, 8);
    socklen_t size = sizeof local;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&local), &size);
    m_port = ntohs(local.sin_port);
}

RawCamera::~RawCamera() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

void RawCamera::serve(int connections, Script script) {
    m_thread = std::thread([this, connections, script = std::move(script)] {
        std::vector<std::thread> served;
        for (int index = 0; index < connections && !m_stop; ++index) {
            int fd = -1;
            while (fd < 0 && !m_stop) {
                pollfd entry{m_listener, POLLIN, 0};
                if (::poll(&entry, 1, 50) > 0)
                    fd = ::accept(m_listener, nullptr, nullptr);
            }
            if (fd < 0)
                break;
            served.emplace_back([this, fd, index, &script] {
                script(*this, fd, index);
                ::close(fd);
            });
        }
        for (auto& thread : served)
            thread.join();
    });
}

bool RawCamera::send(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !m_stop) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return sent == bytes.size();
}

bool RawCamera::receive(int fd, uint16_t& opcode, Bytes& payload, int waitMs) {
    auto readExactly = [&](uint8_t* out, size_t size) {
        size_t got = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (got < size) {
            if (m_stop || std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, out + got, size - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    };
    uint8_t header[23];
    if (!readExactly(header, sizeof header))
        return false;
    opcode = static_cast<uint16_t>(header[4] | header[5] << 8);
    const uint32_t length = static_cast<uint32_t>(header[15]) | header[16] << 8 | header[17] << 16 |
                            static_cast<uint32_t>(header[18]) << 24;
    if (length > (1u << 20))
        return false;
    payload.assign(length, 0);
    return length == 0 || readExactly(payload.data(), length);
}

bool RawCamera::login(int fd, const char* tag, const std::string& id) {
    uint16_t opcode = 0;
    Bytes payload;
    if (!receive(fd, opcode, payload) || opcode != 0 ||
        !send(fd, moMessage(tag, 1, loginAnswer(id))))
        return false;
    return receive(fd, opcode, payload) && opcode == 2 &&
           send(fd, moMessage(tag, 3, statusPayload(0)));
}

void RawCamera::holdOpen(int fd) {
    uint8_t scratch[4096];
    while (!m_stop) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) > 0 && ::recv(fd, scratch, sizeof scratch, 0) <= 0)
            return;
    }
}

} // namespace sdktest
