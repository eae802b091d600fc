#pragma once

#include "transport/MutilTutk.h"
#include "transport/SockBase.h"

#include <atomic>

namespace zq {

// A single-channel peer-to-peer transport: one session to the camera whose UID is the host
// given to connect(), and its channel 0. Used by the per-channel calls, where a media channel or
// a control channel stands alone.
class CTutk : public CSockBase {
public:
    static constexpr int kChannelWaitMs = 3000;

    CTutk() = default;
    ~CTutk() override;

    int open() override { return 0; }
    int setOptions() override { return 0; }
    int connect(const char* host, int port) override;
    void cancel() override;
    int send(const void* buf, int len, int flags) override;
    int recv(void* buf, int size, int flags) override;
    void close() override;
    void setMode(int mode) override { m_mode.store(mode); }
    int getMode() override { return m_mode.load(); }
    bool peerToPeer() const override { return true; }

private:
    CMutilTutk m_link;
    std::atomic<int> m_channel{CMutilTutk::kNone};
    std::atomic<int> m_mode{0};
};

// One channel of a session shared with other channels, seen as a transport so the packet
// framing of a channel works over it unchanged. Connecting and closing belong to whoever owns
// the session; this only reads and writes the channel whose id is current.
class CRdtChannelSocket : public CSockBase {
public:
    CRdtChannelSocket(CMutilTutk& link, const std::atomic<int>& channelId)
        : m_link(link), m_channelId(channelId) {}

    int open() override { return 0; }
    int setOptions() override { return 0; }
    int connect(const char*, int) override { return 0; }
    int send(const void* buf, int len, int flags) override;
    int recv(void* buf, int size, int flags) override;
    void close() override {}

private:
    CMutilTutk& m_link;
    const std::atomic<int>& m_channelId;
};

// Shared by both: a write the session dropped for back-pressure costs one send round (10 ms)
// and reports nothing taken, so the caller's retry budget decides.
int sendOnChannel(CMutilTutk& link, int channelId, const void* buf, int len);

} // namespace zq
