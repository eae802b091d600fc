#pragma once

#include "Socket.h"
#include "iotc/Wire.h"
#include "iotc/iotc.h"
#include "sys/Thread.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace iotc {

struct Timing;

// Received bytes of one channel, kept in the chunks they arrived in so nothing is copied twice.
class ByteQueue {
public:
    void push(std::vector<uint8_t>&& chunk);
    size_t pop(char* out, size_t capacity);
    size_t size() const { return m_size; }
    void clear();

private:
    std::deque<std::vector<uint8_t>> m_chunks;
    size_t m_headOffset = 0;
    size_t m_size = 0;
};

// One paired connection through the relay and the channels inside it. A reader thread turns
// frames into channel state; a writer thread drains the send queue, so RDT_Write never waits for
// the network and a stalled peer shows as a growing sendQueued.
class Session : public std::enable_shared_from_this<Session> {
public:
    // Bytes of one channel received and not read before the reader stops taking more; the
    // sender's TCP window then closes, which is how a slow reader slows the writer down.
    static constexpr size_t kMaxReceiveQueue = 4u << 20;

    // Takes over a connection that has just been paired; `parser` holds any bytes read past the
    // handshake.
    static std::shared_ptr<Session> start(int sid, net::UniqueFd fd, wire::FrameParser parser,
                                          const Timing& timing);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The RDT calls, each checked against the channel's current id so a stale id never reaches
    // a later channel on the same slot.
    int createChannel(unsigned slot, int rdtId, int timeoutMs);
    int destroyChannel(unsigned slot, int rdtId);
    int write(unsigned slot, int rdtId, const char* data, int length);
    int read(unsigned slot, int rdtId, char* buffer, int size, int timeoutMs);
    int status(unsigned slot, int rdtId, RdtStatus& status) const;

    // Ends the session from this side: wakes every waiting call, sends what is queued and BYE
    // within `flushMs`, then stops both threads. Called once, by whoever removed the session
    // from the registry.
    void close(unsigned flushMs);

private:
    enum class PeerSide { Absent, Waiting, Open, Exited };

    struct Slot {
        int localId = 0;              // 0: no local channel
        bool localCreated = false;    // RDT_Create returned localId
        bool discardIncoming = false; // destroyed here; what the peer still sends is dropped
        PeerSide peer = PeerSide::Absent;
        ByteQueue received;
        uint32_t sendQueued = 0;
    };

    struct OutFrame {
        std::vector<uint8_t> bytes;
        int slot = -1; // channel whose sendQueued these bytes count in, or -1
        uint32_t dataBytes = 0;
    };

    Session(net::UniqueFd fd, wire::FrameParser parser, const Timing& timing);
    bool startThreads(int sid);

    void readerLoop();
    bool receiveSome(std::vector<uint8_t>& chunk, uint32_t& lastHeardMs);
    bool deliver(wire::Frame& frame, uint32_t& lastHeardMs);
    bool deliverData(wire::Frame& frame, uint32_t& lastHeardMs);
    void writerLoop();
    bool takeNextFrame(OutFrame& frame, uint32_t& lastSentMs);
    bool sendFrame(const OutFrame& frame);
    void endFromRemote();

    bool ownsLocked(unsigned slot, int rdtId) const;
    void queueLocked(OutFrame frame);
    void queueControlLocked(wire::FrameType type, unsigned slot);
    bool endedLocked() const { return m_localClosed || m_remoteClosed; }

    const unsigned m_pingEveryMs;
    const unsigned m_silenceMs;
    net::UniqueFd m_fd;         // closed only when the session is destroyed, after both threads
    wire::FrameParser m_parser; // reader thread only
    // Set when the IO threads must give up at once (flush time over, connection failed).
    std::atomic<bool> m_abort{false};

    mutable std::mutex m_lock;
    std::condition_variable m_stateChanged;     // channel state, received bytes, queue room
    std::condition_variable m_sendReady;        // the writer's queue
    bool m_localClosed = false;                 // guarded by m_lock
    bool m_remoteClosed = false;                // guarded by m_lock
    std::array<Slot, kIotcMaxChannels> m_slots; // guarded by m_lock
    std::deque<OutFrame> m_sendQueue;           // guarded by m_lock

    sys::Thread m_reader;
    sys::Thread m_writer;
};

} // namespace iotc
