#pragma once

#include "core/MessageRing.h"
#include "sys/Thread.h"
#include "zqnet/zqtypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace zq::h264 {

class CClient;

// What a play-file argument names: "<kind digit><separator><path>".
struct PlayTarget {
    bool valid = false; // false: the session stays live
    int32_t recordKind = 0;
    std::string fileName; // the part after the last '/'
};
PlayTarget parsePlayFile(const char* playFile);

// Playback of a camera-side record: a bounded queue of copied frames that "NetThread" fills
// and "AVThread" empties at the record's frame rate.
//
// Locks: m_playLock (seek against the pacing loop) is taken before m_queueLock, never the other
// way round. The flags are atomics read by both threads.
class CPlayback {
public:
    CPlayback(CClient& client, int capacity, int prebuffer);
    ~CPlayback();

    const PlayTarget& target() const { return m_target; }
    void setTarget(PlayTarget target) { m_target = std::move(target); }

    // "NetThread" side.
    void onRecordInfo(const uint8_t* payload, size_t length);
    void onSeekReached(int32_t firstWord, int32_t reachedMs);
    void enqueue(int32_t mediaType, const FRAME_HEAD& head);
    // The queue is full: "NetThread" stops reading so the camera slows down (TCP flow control).
    bool wantsPause() const;
    bool paused() const { return m_paused.load(); }

    // Caller side.
    int seek(double percent);
    int pause();
    int resume();

    bool start(std::shared_ptr<CClient> owner);
    void stop(unsigned waitMs);
    MessageRing& ring() { return m_ring; }

    // Frees every queued frame.
    void discardQueued() { clearQueue(); }
    // Exposed for tests: frames waiting and the current played count.
    size_t queued() const;
    int32_t playedFrames() const { return m_played.load(); }
    int32_t durationMs() const { return m_durationMs.load(); }

private:
    struct QueuedFrame {
        FRAME_HEAD head;
        std::unique_ptr<char[]> data;
    };

    void run(sys::WorkerContext& context);
    int pace(int32_t fps);
    int32_t startingRate();
    bool waitForRecordInfo();
    bool prebuffer();
    bool dispatch(const NetMessage& message);
    bool drainMessages();
    bool deliverFront();
    int32_t frontType() const;
    void dropQueuedAudio();
    void clearQueue();
    int32_t remainingFrames() const;
    void reportPosition();

    CClient& m_client;
    PlayTarget m_target;
    const size_t m_capacity;
    std::atomic<int32_t> m_prebuffer;
    MessageRing m_ring; // "AVThread" messages
    sys::Thread m_thread;

    std::mutex m_playLock;
    mutable std::mutex m_queueLock;
    std::deque<QueuedFrame> m_queue; // guarded by m_queueLock

    std::array<uint8_t, 52> m_recordInfo{}; // written before kMsgRecordInfo is posted
    std::atomic<int32_t> m_totalFrames{0};
    std::atomic<int32_t> m_durationMs{0};
    std::atomic<int32_t> m_fps{0};
    std::atomic<int32_t> m_played{0};
    int32_t m_lastPosition = -1; // "AVThread" only
    std::atomic<bool> m_seeking{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_seekPending{false};
    std::atomic<bool> m_showOne{false};
    bool m_refill = false; // "AVThread" only
};

} // namespace zq::h264
