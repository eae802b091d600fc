#pragma once

#include "core/MessageRing.h"
#include "device/tutk/TutkNetBase.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace zq::tutk {

// An H.264 camera reached by UID: channel 0 of the session carries the control packets and
// the camera's settings (as text commands), channel 1 the media.
//
// "p2p_ctrl" connects, creates both channels, logs in, keeps the session alive and sends the
// queued text commands; "p2p_media" starts once the camera accepts the login and then logs in
// on the media channel and receives the frames. Every new control login raises the link
// generation; the media thread logs in only on a generation newer than the one it lost, and the
// control thread restarts only for a media loss of the current generation, so a loss seen by
// both threads causes one reconnect, not two.
class CH264Tutk : public CTutkNetBase, public std::enable_shared_from_this<CH264Tutk> {
public:
    static constexpr unsigned kStopWaitMs = 500;
    static constexpr uint32_t kKeepAliveMs = 3000;
    static constexpr uint32_t kVideoWatchdogMs = 20000;
    static constexpr unsigned kControlLoopMs = 40;
    static constexpr unsigned kMediaLoopMs = 10;
    static constexpr size_t kMaxQueuedTexts = 100;
    static constexpr size_t kMaxTextBytes = 4096;
    static constexpr int kTalkPacketSize = 977;
    static constexpr int kTalkPayload = 964;
    // Posted to the media ring after every control login.
    static constexpr int kMsgControlReady = 5569;

    CH264Tutk(DEVICE_PARAM* param, int buffering, int linkFlags, EventCallback onEvent,
              FrameCallback onFrame, void* user);
    ~CH264Tutk() override;

    bool start();
    void close() override;
    void setCommand(int command, intptr_t param1, intptr_t param2);

    void run(sys::WorkerContext& context) override;
    void runMedia(sys::WorkerContext& context) override;
    void onPacket(int channel, const uint8_t* packet, size_t size) override;

    // For tests: the generation of the current control login (0 before the first).
    int linkGeneration() const { return m_generation.load(); }
    bool mediaRunning() const { return m_mediaThread.running(); }
    // For tests: how long without video makes the media thread reconnect.
    void setVideoWatchdogMs(uint32_t ms) { m_videoWatchdogMs.store(ms); }

private:
    enum class Outcome { Stop, Reconnect };

    bool connectSession();
    bool createChannels();
    void closeSession();
    Outcome runControlSession();
    bool takeControlMessages(Outcome& outcome);
    void sendQueuedTexts();
    bool queueText(std::string command);

    bool loginMedia(int& generation);
    Outcome runMediaSession(int generation);
    bool waitForNewLogin(int lostGeneration);
    void startMediaOnce();
    int sendOnMedia(const std::vector<uint8_t>& packet, int retries);
    int sendTalk(const void* data, intptr_t length);

    void onControlPacket(int32_t command, const uint8_t* payload, int length);
    void onFramePacket(int32_t command, const uint8_t* packet, size_t size);

    const bool m_dropFrames; // a playback request: not offered over peer-to-peer
    std::atomic<uint32_t> m_videoWatchdogMs{kVideoWatchdogMs};

    CTutkStream m_control;
    CTutkStream m_media;
    MessageRing m_controlRing;
    MessageRing m_mediaRing;
    sys::Thread m_controlThread;
    sys::Thread m_mediaThread;
    std::mutex m_mediaStartLock;
    std::atomic<int> m_generation{0};
    std::atomic<uint32_t> m_lastVideoMs{0};

    std::mutex m_textLock;
    std::deque<std::string> m_texts; // guarded by m_textLock
};

} // namespace zq::tutk
