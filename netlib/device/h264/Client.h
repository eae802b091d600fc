#pragma once

#include "core/MessageRing.h"
#include "device/h264/Channel.h"
#include "device/h264/MediaSink.h"
#include "device/h264/Playback.h"
#include "sys/Thread.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>

namespace zq::h264 {

// Media channel of an H.264 camera: "NetThread" logs in, receives video and audio and keeps the
// connection alive; for camera-side records, "AVThread" (CPlayback) paces the frames out.
//
// The channel reports to a MediaSink it holds weakly: once the owner is gone, reports are
// dropped. Threads hold the channel itself by shared_ptr, so a thread that overran its stop
// wait never touches freed memory.
class CClient : public CH264Channel, public std::enable_shared_from_this<CClient> {
public:
    static constexpr unsigned kStopWaitMs = 5000;
    static constexpr uint32_t kWatchdogMs = 15000;

    CClient(const char* playFile, DEVICE_PARAM* param, int buffering, std::weak_ptr<MediaSink> sink,
            int linkFlags);
    ~CClient() override;

    void onPacket(const uint8_t* packet, size_t size) override;

    bool start(); // "NetThread" (and "AVThread" for records); false when already running
    bool running() const { return m_netThread.running(); }
    void stop(); // bounded: kStopWaitMs per thread

    // Requests, from any thread. Results are SendResult values.
    int sendLoginNow() { return sendLogin(); }
    int sendStartVideo() { return sendLiveRequest(kStartVideo); }
    int sendStopVideo() { return sendLiveRequest(kStopVideo); }
    int sendOpenAudio();
    int sendCloseAudio();
    // At most kMaxTalkBytes; longer data is refused and nothing is sent.
    int sendTalk(const void* data, int length);
    // Logout, then close; "NetThread" reconnects when the reconnect flag is set.
    void requestLogout();
    void postMessage(int code, intptr_t param1 = 0, intptr_t param2 = 0);

    CPlayback* playback() { return m_playback.get(); }
    bool isPlayback() const { return m_playback != nullptr; }
    int index() const { return m_index; }
    bool reconnects() const { return m_reconnect; }
    int sendMediaPacket(const std::vector<uint8_t>& packet) {
        return sendPacket(packet, kRetryMediaRequest);
    }

    // Returns the value as the sink left it.
    int report(int code, int value, int extra);
    void reportFrame(int mediaType, FRAME_HEAD* frame);

private:
    enum class Loss { Stopped, Dropped, Restart };

    void runNet(sys::WorkerContext& context);
    Loss runSession();
    int sendLogout();
    bool handleMessages(bool& reconnectNow);
    int sendLiveRequest(int32_t command);
    int sendLogin();
    void deliverLive(int32_t command, const uint8_t* packet, size_t size);

    std::weak_ptr<MediaSink> m_sink;
    const int m_index;
    const bool m_reconnect;
    std::unique_ptr<CPlayback> m_playback; // null for live
    MessageRing m_ring;                    // "NetThread" messages
    sys::Thread m_netThread;
    std::atomic<uint32_t> m_lastPacketMs{0};
};

} // namespace zq::h264
