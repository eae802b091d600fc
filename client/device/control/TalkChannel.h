#pragma once

// Talking to one camera: the operator's voice captured by a zqaudio capture device, encoded by
// an audora encoder and sent with command 4 through the session's CommandSink.

#include "device/control/CommandSink.h"
#include "device/control/FixedBlocks.h"

#include <atomic>
#include <mutex>
#include <optional>

struct ZQAudioDevice;
typedef struct ZQEncoder* ZQ_ENCODER;

namespace client {
class AppLog;
}

namespace Device {

class BroadcastTalk;

// How one class of camera takes talk audio.
struct TalkProfile {
    int codec = 0;       // audora registration type (GetTalkCodec)
    int blockBytes = 0;  // PCM bytes per capture block and per encoder call (GetTalkBlock)
    int packetBytes = 0; // the only packet size the camera accepts; 0 when any size is taken
};

// Class 16 (MJPEG): IMA ADPCM from 640-byte blocks, 160-byte packets; class 17: G.726 from
// 960-byte blocks; class 19: the voice codec from 960-byte blocks. Nothing for other classes.
std::optional<TalkProfile> talkProfileForClass(int classCode);

// The talk path of one session.
//
// Lifetimes: the capture device lives from the first openTalk() to the destruction of the
// channel; the encoder from startCapture() to stopCapture().
//
// Threads: openTalk/closeTalk run on the user interface thread and, after a reconnect, on the
// network thread; startCapture/stopCapture on the network thread (the camera granted or ended
// talk) and from the session's close. The capture callback runs on the zqaudio thread and a
// broadcast's on the broadcast device's thread; both only encode and send. All calls are
// thread-safe.
//
// While the channel is a member of a BroadcastTalk its own capture device is stopped: the
// broadcast feeds it instead, so the camera never hears the operator twice.
class TalkChannel {
public:
    // `sink` and `log` (may be null) must outlive the channel.
    TalkChannel(CommandSink& sink, const TalkProfile& profile, client::AppLog* log = nullptr);
    // Leaves any broadcast, stops capture, releases the encoder and the capture device.
    ~TalkChannel();
    TalkChannel(const TalkChannel&) = delete;
    TalkChannel& operator=(const TalkChannel&) = delete;

    // OpenTalk: creates and opens the capture device on first use, then sends command 2.
    // False when the device cannot be opened (nothing is sent) or the sink refused.
    bool openTalk();
    // CloseTalk: no more audio is sent from now on; sends command 7. The capture itself ends
    // when the camera confirms (stopCapture).
    bool closeTalk();

    // StartTalkCapture, on the camera's grant: creates and registers the encoder unless it
    // exists, marks talk open and starts the capture device's blocks. False when the encoder
    // cannot be made (talk stays closed).
    bool startCapture();
    // StopTalkCapture: marks talk closed, stops the capture device (waiting for a block in
    // progress) and releases the encoder. Harmless when nothing runs.
    void stopCapture();

    bool talkOpen() const { return m_talkOpen.load(std::memory_order_acquire); }
    bool hasCaptureDevice() const;
    const TalkProfile& profile() const { return m_profile; }

    // Encodes one block of profile().blockBytes bytes of PCM and sends the result with command 4,
    // cut to the camera's packet size when it has one. Does nothing while talk is closed or
    // without an encoder. True when at least one packet went to the sink and it took it.
    bool sendBlock(const char* pcm, int length);

private:
    friend class BroadcastTalk;

    static void onCaptured(int reserved, const char* pcm, int length, void* user);
    // Called by a broadcast with its list lock held, or by the destructor; `broadcast` may be
    // null.
    void setBroadcast(BroadcastTalk* broadcast) { m_broadcast.store(broadcast); }
    BroadcastTalk* broadcast() const { return m_broadcast.load(); }
    // The own device pauses while a broadcast feeds the channel and resumes afterwards.
    void pauseOwnCapture();
    void resumeOwnCapture();
    void releaseEncoder();
    void log(const char* function, const std::string& message) const;

    CommandSink& m_sink;
    const TalkProfile m_profile;
    client::AppLog* const m_log;

    // Written under m_encoderLock, so a block being encoded is sent or dropped as a whole;
    // read without it by the broadcast to skip closed members cheaply.
    std::atomic<bool> m_talkOpen{false};
    std::atomic<BroadcastTalk*> m_broadcast{nullptr};

    // Serialises the device calls of the user interface and network threads. Held while
    // StopRecDev waits for the capture callback, which therefore never takes it.
    mutable std::mutex m_deviceLock;
    ZQAudioDevice* m_device = nullptr; // guarded by m_deviceLock

    // Guards the encoder against the two feeders (own capture, broadcast) and its release. The
    // encoder's output buffer is only valid until its next call, so packets are sent with this
    // lock held. Taken after m_deviceLock and after a broadcast's list lock, never before.
    std::mutex m_encoderLock;
    ZQ_ENCODER m_encoder = nullptr; // guarded by m_encoderLock
    FixedBlocks m_packets;          // guarded by m_encoderLock
};

} // namespace Device
