#pragma once

#include "CameraConfig.h"
#include "CgiModel.h"
#include "Faults.h"
#include "NoticeBox.h"
#include "StreamLibrary.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

// Counts of what the camera has seen, for tests and the console.
struct CameraStats {
    uint32_t connections = 0; // accepted on any port and transport
    uint32_t activeConnections = 0;
    uint32_t httpRequests = 0;
    uint32_t controlLogins = 0;  // accepted control logins
    uint32_t liveLogins = 0;     // accepted live media logins
    uint32_t playbackLogins = 0; // accepted playback logins
    uint32_t rejectedLogins = 0; // any channel, wrong user or password (or refused by fault)
    uint32_t keepAlives = 0;
    uint32_t textCommands = 0;   // well-formed text commands on a logged-in control channel
    uint32_t talkPackets = 0;    // accepted talk audio packets
    uint32_t talkRejects = 0;    // talk packets with a bad length
    uint32_t protocolErrors = 0; // connections closed for a malformed request
    uint32_t skippedBytes = 0;   // bytes skipped to find a packet header
};

// The state one camera's threads share: configuration, media, CGI model, faults, observations.
// Connection threads hold it by shared_ptr, so it outlives a thread that overran a stop.
class CameraCore {
public:
    // Bounds on what a talking client can make the camera keep.
    static constexpr size_t kMaxTalkBytes = 1 << 20;
    static constexpr size_t kMaxTalkSamples = 4 << 20;
    static constexpr size_t kMaxSnapshots = 8;

    CameraCore(CameraConfig config, std::shared_ptr<const StreamLibrary> streams);

    const CameraConfig& config() const { return m_config; }
    const StreamLibrary& streams() const { return *m_streams; }
    CgiModel& cgi() { return m_cgi; }
    Faults& faults() { return m_faults; }

    bool stopping() const { return m_stopping.load(); }
    // True when the user and password match and logins are not refused by a fault.
    bool acceptsLogin(std::string_view user, std::string_view password) const {
        return !m_faults.refuseLogins && user == m_config.user && password == m_config.password;
    }
    void beginStop() { m_stopping = true; }

    // One line to the configured event sink (printf-style).
    void event(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Counters are bumped with count(&CameraStats::field) from any thread.
    void count(uint32_t CameraStats::*field, int delta = 1);
    CameraStats stats() const;

    void addTalk(const uint8_t* data, size_t length, const std::vector<int16_t>& pcm);
    std::vector<uint8_t> talkBytes() const;
    std::vector<int16_t> talkPcm() const;
    void addSeekTarget(int32_t targetMs);
    std::vector<int32_t> seekTargets() const;

    // Control connections register a box to receive notices; broadcast() posts to every open one.
    std::shared_ptr<NoticeBox> openNoticeBox();
    size_t broadcast(const std::vector<uint8_t>& packet);

    // Encodes the current picture and keeps it under a fresh name; returns the web path
    // ("snapPic/Snap_....jpg") or empty on failure. The newest kMaxSnapshots are kept.
    std::string takeSnapshot();
    std::optional<std::vector<uint8_t>> snapshot(const std::string& path) const;

private:
    const CameraConfig m_config;
    const std::shared_ptr<const StreamLibrary> m_streams;
    CgiModel m_cgi;
    Faults m_faults;
    std::atomic<bool> m_stopping{false};
    const int64_t m_startMs;

    mutable std::mutex m_lock;
    CameraStats m_stats;                                 // guarded by m_lock
    std::vector<uint8_t> m_talkBytes;                    // guarded by m_lock
    std::vector<int16_t> m_talkPcm;                      // guarded by m_lock
    std::vector<int32_t> m_seekTargets;                  // guarded by m_lock
    std::vector<std::weak_ptr<NoticeBox>> m_noticeBoxes; // guarded by m_lock
    // Oldest first; guarded by m_lock.
    std::deque<std::pair<std::string, std::vector<uint8_t>>> m_snapshots;
    uint32_t m_snapshotSerial = 0; // guarded by m_lock
};

} // namespace camsim
