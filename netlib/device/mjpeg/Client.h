#pragma once

#include "core/MessageRing.h"
#include "device/mjpeg/Channel.h"
#include "sys/Thread.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

namespace zq::mjpeg {

// Media statuses (first argument of MjpegSink::onMediaStatus).
enum MediaStatus : int {
    kStatusConnectFailed = 0, // value 1 TCP, 2 UDT, 3 a later attempt
    kStatusReconnecting = 1,  // value 0
    kStatusLost = 5,          // value 25: lost for good (no reconnect flag)
};

// Message codes of "MJNetThread" besides quit (18) and reconnect (1025).
inline constexpr int kMsgConnectionId = 1039; // param1 = the id granted by the video start reply

// Media channel of an MJPEG camera: "MJNetThread" keeps the "MO_V" connection, logs in with the
// connection id the control channel was granted, and hands pictures and audio to the sink.
class CMJClient : public CMJChannel, public std::enable_shared_from_this<CMJClient> {
public:
    static constexpr unsigned kStopWaitMs = 5000;
    static constexpr unsigned kLoopMs = 10;
    // 500 rounds (a 10 ms read and a 10 ms pause each) without a whole packet: the connection
    // is dead. Counted in time, so a slow read cannot stretch it.
    static constexpr uint32_t kWatchdogMs = 10000;

    CMJClient(DEVICE_PARAM* param, std::weak_ptr<MjpegSink> sink, int linkFlags);
    ~CMJClient() override;

    void onPacket(const uint8_t* packet, size_t size) override;

    bool start();
    void stop(); // bounded: kStopWaitMs
    bool running() const { return m_thread.running(); }
    bool post(int code, intptr_t param1 = 0, intptr_t param2 = 0);

    // Exactly kTalkBytes of audio; any other length is refused (kSendFailed) and nothing is sent.
    int sendTalk(int32_t serial, uint8_t format, const void* data, int length);
    bool reconnects() const { return m_reconnect; }

private:
    enum class Loss { Stopped, Dropped, Restart };

    void run(sys::WorkerContext& context);
    Loss runSession();
    bool handleMessages(bool& reconnect, bool connected);
    void report(int code, int value);

    std::weak_ptr<MjpegSink> m_sink;
    const int m_index;
    const bool m_reconnect;
    MessageRing m_ring;
    sys::Thread m_thread;
    std::atomic<int32_t> m_connectionId{0};
    std::atomic<bool> m_hasConnectionId{false};
    std::atomic<uint32_t> m_lastPacketMs{0};

    std::mutex m_talkLock; // one talk packet buffer, reused by every call
    std::array<uint8_t, 200> m_talkPacket{};
};

} // namespace zq::mjpeg
