#pragma once

#include <atomic>
#include <mutex>

namespace zq {

// One peer-to-peer session to a camera, carrying several reliable channels: the transport of a
// whole H.264 camera reached by UID. The owner's threads share it: the control thread connects
// and creates the channels, both threads read and write their own channel.
//
// Results follow the other transports: bytes, 0 for "nothing yet", -1 error, -2 write dropped
// because the channel's send queue is too long, -3 peer gone, -4 cancelled.
class CMutilTutk {
public:
    static constexpr int kNone = -10000;
    // A write is dropped while more than this many bytes wait to be sent on its channel, so a
    // slow path to the camera cannot make the queue grow without bound.
    static constexpr unsigned kMaxPendingSend = 1024000;
    static constexpr int kReadWaitMs = 100;
    static constexpr int kChannelWaitMs = 30000;

    CMutilTutk() = default;
    virtual ~CMutilTutk();
    CMutilTutk(const CMutilTutk&) = delete;
    CMutilTutk& operator=(const CMutilTutk&) = delete;

    // Forgets the session without closing it.
    virtual void reset();
    virtual void clearCancel();
    virtual int ready() { return 1; }
    // Makes a connect or channel creation in progress give up; from any thread.
    virtual void cancel();
    // Opens the session to `uid` unless one is open. 0 on success, -1 when no relay answered,
    // -2 when the camera is not registered, -4 when cancelled.
    virtual int connect(const char* uid, int port);
    virtual int write(int channelId, const void* data, int length);
    // Waits up to kReadWaitMs.
    virtual int read(int channelId, void* buffer, int size);
    // Closes the session; every channel of it stops working.
    virtual void close();
    // The id of channel `channel` of the open session (waiting up to kChannelWaitMs for the
    // camera), or a negative result.
    virtual int createChannel(int unused, int channel);
    virtual void destroyChannel(int channelId);
    // True once per successful connect: whether a session was ever made since the last call.
    virtual bool takeConnected();

    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    int session() const;
    // Whether writes consult the channel's send queue first (on by default).
    void setWriteStatusCheck(bool on) { m_checkWriteStatus.store(on); }

private:
    static int cancelCheck(void* self);

    mutable std::mutex m_sessionLock;
    int m_session = kNone; // guarded by m_sessionLock
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_checkWriteStatus{true};
};

} // namespace zq
