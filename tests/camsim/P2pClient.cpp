#include "P2pClient.h"

#include "iotc/iotc.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>

namespace camtest {

namespace {

constexpr int kChannelOpenMs = 5000;
// A channel the camera never opens: while the session lives, opening it only times out.
constexpr unsigned char kProbeChannel = kIotcMaxChannels - 1;

class RdtByteLink final : public ByteLink {
public:
    explicit RdtByteLink(int rdtId) : m_rdtId(rdtId) {}
    ~RdtByteLink() override { RDT_Destroy(m_rdtId); }
    RdtByteLink(const RdtByteLink&) = delete;
    RdtByteLink& operator=(const RdtByteLink&) = delete;

    bool send(const uint8_t* data, size_t length) override {
        while (length > 0) {
            const int chunk = static_cast<int>(std::min<size_t>(length, kRdtMaxWrite));
            if (RDT_Write(m_rdtId, reinterpret_cast<const char*>(data), chunk) != chunk) {
                return false;
            }
            data += chunk;
            length -= static_cast<size_t>(chunk);
        }
        return true;
    }

    int receive(uint8_t* buffer, size_t size, unsigned waitMs) override {
        const int got =
            RDT_Read(m_rdtId, reinterpret_cast<char*>(buffer),
                     static_cast<int>(std::min<size_t>(size, INT_MAX)), static_cast<int>(waitMs));
        if (got > 0) {
            return got;
        }
        return got == RDT_ER_TIMEOUT || got == RDT_ER_REMOTE_NOT_READY ? 0 : -1;
    }

private:
    const int m_rdtId;
};

} // namespace

P2pClient::~P2pClient() {
    close();
}

bool P2pClient::connect(const std::string& uid) {
    close();
    m_sessionId = IOTC_Connect_ByUID(uid.c_str());
    if (m_sessionId < 0) {
        m_error = "connect failed: " + std::to_string(m_sessionId);
        return false;
    }
    RawClient* clients[2] = {&control, &media};
    for (unsigned char channel = 0; channel < 2; ++channel) {
        const int rdtId = RDT_Create(m_sessionId, kChannelOpenMs, channel);
        if (rdtId < 0) {
            m_error = "channel " + std::to_string(channel) + ": " + std::to_string(rdtId);
            return false;
        }
        clients[channel]->attach(std::make_unique<RdtByteLink>(rdtId));
    }
    return true;
}

bool P2pClient::waitSessionClosed(unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const int probe = RDT_Create(m_sessionId, 20, kProbeChannel);
        if (probe >= 0) {
            RDT_Destroy(probe);
            return false; // the camera opened a channel it has no use for
        }
        if (probe != RDT_ER_TIMEOUT) {
            return true;
        }
    }
    return false;
}

void P2pClient::close() {
    control.close();
    media.close();
    if (m_sessionId >= 0) {
        IOTC_Session_Close(m_sessionId);
        m_sessionId = -1;
    }
}

} // namespace camtest
