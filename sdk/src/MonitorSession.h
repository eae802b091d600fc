#pragma once

#include "FrameOrder.h"
#include "Session.h"
#include "SoundOut.h"
#include "VideoChannel.h"

#include <deque>

namespace moltrex {

// Requests of the monitor exports (thread messages 1024 + n).
enum : int {
    kPlayVideo = 1025,
    kStopVideo = 1026,
    kPlayAudio = 1027,
    kStopAudio = 1028,
    kSetMaxVideoRate = 1030,
    kSensorControl = 1034,
    kDecoderControl = 1035,
    kSoundOn = 1037,
    kSoundOff = 1038,
};

// The monitor session: login and requests on the operation channel ("MO_O"), pictures and audio
// blocks on the video channel ("MO_V"), through the time-ordered buffer to the host and, while
// sound is on, to the sound output.
class MonitorSession final : public Session {
public:
    MonitorSession(Endpoint endpoint, const Target& target, const Tuning& tuning);

private:
    enum class Stream { Video, Audio };

    void afterLogin() override;
    void onMessage(const Message& message) override;
    int onRequest(Request& request) override;
    void addPollEntries(std::vector<pollfd>& entries) override;
    int afterPoll(const std::vector<pollfd>& entries) override;
    void beforeEnd() override;

    void onStartAnswer(const Message& message);
    void onVideoMessage(const Message& message);
    // Both streams ended: the buffer is emptied at once and the channel closed.
    void endStreams(int videoStatus, int audioStatus);
    void deliver(std::vector<Released>& released);
    void postCounters();

    VideoChannel m_channel;
    FrameOrder m_order;
    SoundOut m_sound;
    std::deque<Stream> m_pendingStarts; // start requests sent, oldest first
    bool m_video = false;
    bool m_audio = false;
    MO_TRANSFER_COUNTERS m_counters{};
    bool m_countersRunning = false; // while video runs
    uint32_t m_countersStartMs = 0;
    std::vector<Message> m_arrived;
    std::vector<Released> m_released;
};

} // namespace moltrex
