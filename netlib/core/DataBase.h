#pragma once

#include "transport/SockBase.h"
#include "zqnet/zqtypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zq {

// Send budgets: how many consecutive 10 ms rounds without progress a send may wait.
enum SendRetries : int {
    kRetryMediaRequest = 0, // login, video, talk, playback control: fail on the first stall
    kRetryAudioOrControl = 100,
    kRetryServerPush = 300,
};

// Results of CDataBase::sendPacket.
enum SendResult : int { kSendOk = 1, kSendFailed = -1, kSendStalled = -2 };

// One channel of a camera session: a transport, a receive buffer and the packet framing.
//
// Bytes are appended to a fixed 1,000,000-byte buffer and cut into packets in place; onPacket
// sees a packet that points into the buffer and is valid only for the call. A header whose
// length could never fit the buffer is treated as garbage, so a hostile length cannot stall
// the stream. Only the channel thread receives; sends may come from any thread and are
// serialised by the send lock, one whole packet at a time.
class CDataBase {
public:
    static constexpr size_t kReceiveCapacity = 1000000;

    explicit CDataBase(DEVICE_PARAM* param);
    virtual ~CDataBase();
    CDataBase(const CDataBase&) = delete;
    CDataBase& operator=(const CDataBase&) = delete;

    // A whole packet, header included.
    virtual void onPacket(const uint8_t* packet, size_t size) = 0;
    virtual int headerSize() const = 0;
    virtual bool isHeader(const uint8_t* bytes) const = 0;
    // Whole packet size from a header, or -1 when the header's length is impossible.
    virtual long packetSize(const uint8_t* bytes) const = 0;
    // A zeroed packet of `length` payload bytes with its header filled; `length` grows by the
    // header size.
    virtual std::vector<uint8_t> makePacket(int command, int& length) const = 0;

    void setTransport(std::unique_ptr<CSockBase> transport);
    // Open (with options) and close the connection under the send lock, so a send from another
    // thread never uses a socket that is being replaced.
    int openTransport();
    void closeTransport();
    CSockBase* transport() const { return m_transport.get(); }

    // Reads what is available (each read waits at most 10 ms) and hands complete packets to
    // onPacket. Returns bytes read (> 0), kIoIdle, or kIoError / kIoClosed / kIoCancelled.
    int receive();
    // Cuts complete packets from the buffer; public so tests and fuzzers can feed bytes.
    void appendAndParse(const uint8_t* bytes, size_t length);
    void resetReceiveBuffer() { m_fill = 0; }

    int sendPacket(const void* data, size_t length, int retries);
    int sendPacket(const std::vector<uint8_t>& packet, int retries) {
        return sendPacket(packet.data(), packet.size(), retries);
    }

    // Stop requests: from any thread.
    void cancel();
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    void clearCancel();

    DEVICE_PARAM* param() const { return m_param; }

protected:
    void parseBuffer();
    // Sleeps `ms` in 10 ms steps; false when the channel was cancelled meanwhile. Every wait of a
    // channel thread goes through here, so a stop is never held up by one.
    bool pause(unsigned ms) const;
    // The camera's host from DEVICE_PARAM, which need not be NUL-terminated.
    std::string hostText() const;

    DEVICE_PARAM* const m_param; // caller-owned, outlives the channel

private:
    std::unique_ptr<CSockBase> m_transport;
    std::atomic<bool> m_cancelled{false};
    std::vector<uint8_t> m_buffer; // receive buffer, used by the channel thread only
    size_t m_fill = 0;
    std::mutex m_sendLock; // one packet at a time on the wire
};

} // namespace zq
