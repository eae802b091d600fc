#include "RawClient.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camtest {

namespace {

void put32(std::vector<uint8_t>& out, size_t at, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

int32_t get32(const uint8_t* p) {
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}

void putText(std::vector<uint8_t>& out, size_t at, const std::string& text) {
    std::memcpy(out.data() + at, text.data(), std::min<size_t>(text.size(), 63));
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

using Clock = std::chrono::steady_clock;

unsigned remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<unsigned>(left) : 0;
}

} // namespace

int32_t RxPacket::word(size_t index) const {
    return payload.size() >= 4 * index + 4 ? get32(payload.data() + 4 * index) : INT32_MIN;
}

namespace {

class TcpByteLink final : public ByteLink {
public:
    explicit TcpByteLink(int fd) : m_fd(fd) {}
    ~TcpByteLink() override { ::close(m_fd); }
    TcpByteLink(const TcpByteLink&) = delete;
    TcpByteLink& operator=(const TcpByteLink&) = delete;

    bool send(const uint8_t* data, size_t length) override {
        while (length > 0) {
            const ssize_t sent = ::send(m_fd, data, length, MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            data += sent;
            length -= static_cast<size_t>(sent);
        }
        return true;
    }

    int receive(uint8_t* buffer, size_t size, unsigned waitMs) override {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(waitMs)) <= 0) {
            return 0;
        }
        const ssize_t got = ::recv(m_fd, buffer, size, 0);
        return got > 0 ? static_cast<int>(got) : -1;
    }

private:
    const int m_fd;
};

} // namespace

RawClient::~RawClient() {
    close();
}

bool RawClient::connect(uint16_t port) {
    const int fd = connectLoopback(port);
    attach(fd >= 0 ? std::make_unique<TcpByteLink>(fd) : nullptr);
    return m_link != nullptr;
}

void RawClient::attach(std::unique_ptr<ByteLink> link) {
    m_link = std::move(link);
    m_eof = false;
    m_buffer.clear();
}

void RawClient::close() {
    m_link.reset();
}

bool RawClient::sendBytes(const void* data, size_t length) {
    return m_link && m_link->send(static_cast<const uint8_t*>(data), length);
}

bool RawClient::sendPacket(int32_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> packet(12 + payload.size());
    put32(packet, 0, command);
    std::memcpy(packet.data() + 4, "ZQNT", 4);
    put32(packet, 8, static_cast<int32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), packet.begin() + 12);
    return sendBytes(packet.data(), packet.size());
}

bool RawClient::fill(unsigned waitMs) {
    if (!m_link || m_eof) {
        return false;
    }
    uint8_t chunk[65536];
    const int got = m_link->receive(chunk, sizeof chunk, waitMs);
    if (got < 0) {
        m_eof = true;
        return false;
    }
    if (got > 0) {
        ++m_reads;
        m_buffer.insert(m_buffer.end(), chunk, chunk + got);
    }
    return true;
}

std::optional<RxPacket> RawClient::readPacket(unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (m_buffer.size() >= 12) {
            if (std::memcmp(m_buffer.data() + 4, "ZQNT", 4) != 0) {
                m_buffer.erase(m_buffer.begin());
                ++m_skipped;
                continue;
            }
            const int32_t length = get32(m_buffer.data() + 8);
            if (length < 0 || m_buffer.size() < 12 + static_cast<size_t>(length)) {
                break;
            }
            RxPacket packet;
            packet.command = get32(m_buffer.data());
            packet.payload.assign(m_buffer.begin() + 12, m_buffer.begin() + 12 + length);
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + 12 + length);
            return packet;
        }
        const unsigned left = remainingMs(deadline);
        if (left == 0 || !fill(std::min(left, 50u))) {
            return std::nullopt;
        }
    }
}

std::optional<RxPacket> RawClient::readUntil(int32_t command, unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (remainingMs(deadline) > 0) {
        auto packet = readPacket(remainingMs(deadline));
        if (packet && packet->command == command) {
            return packet;
        }
        if (!packet && m_eof) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool RawClient::waitClosed(unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_eof && remainingMs(deadline) > 0) {
        m_buffer.clear();
        fill(std::min(remainingMs(deadline), 50u));
    }
    return m_eof;
}

std::vector<uint8_t> controlLoginPayload(const std::string& user, const std::string& password,
                                         int32_t id) {
    std::vector<uint8_t> payload(164, 0);
    putText(payload, 0, user);
    putText(payload, 64, password);
    put32(payload, 128, id);
    return payload;
}

std::vector<uint8_t> liveLoginPayload(uint8_t streamType, const std::string& user,
                                      const std::string& password, int32_t id) {
    std::vector<uint8_t> payload(161, 0);
    payload[0] = streamType;
    putText(payload, 1, user);
    putText(payload, 65, password);
    put32(payload, 129, id);
    return payload;
}

std::vector<uint8_t> playbackLoginPayload(int32_t kind, const std::string& file,
                                          const std::string& user, const std::string& password,
                                          int32_t id) {
    std::vector<uint8_t> payload(228, 0);
    put32(payload, 0, kind);
    putText(payload, 4, file);
    putText(payload, 68, user);
    putText(payload, 132, password);
    put32(payload, 196, id);
    return payload;
}

std::vector<uint8_t> wordsPayload(std::initializer_list<int32_t> words) {
    std::vector<uint8_t> payload(words.size() * 4);
    size_t at = 0;
    for (const int32_t word : words) {
        put32(payload, at, word);
        at += 4;
    }
    return payload;
}

HttpReply httpGet(uint16_t port, const std::string& target, unsigned timeoutMs) {
    HttpReply reply;
    const int fd = connectLoopback(port);
    if (fd < 0) {
        return reply;
    }
    const std::string request = "GET " + target +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nAccept:*/*\r\nConnection: Close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const unsigned left = remainingMs(deadline);
        if (left == 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char chunk[65536];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        raw.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    const size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) {
        return reply;
    }
    reply.status = std::atoi(raw.c_str() + 9);
    reply.headers = raw.substr(0, end);
    reply.body = raw.substr(end + 4);
    return reply;
}

std::optional<std::string> xmlValue(const std::string& xml, const std::string& name) {
    const std::string open = "<" + name + ">";
    const size_t begin = xml.find(open);
    const size_t end = xml.find("</" + name + ">");
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
        return std::nullopt;
    }
    return xml.substr(begin + open.size(), end - begin - open.size());
}

} // namespace camtest
