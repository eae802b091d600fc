#include "CameraCore.h"

#include "EventSink.h"
#include "JpegEncoder.h"
#include "SyntheticPicture.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

namespace camsim {

namespace {

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string reportedAddress(const std::string& listenAddress) {
    return listenAddress == "0.0.0.0" ? "127.0.0.1" : listenAddress;
}

} // namespace

CameraCore::CameraCore(CameraConfig config, std::shared_ptr<const StreamLibrary> streams)
    : m_config(std::move(config)), m_streams(std::move(streams)),
      m_cgi(m_config.user, m_config.password, reportedAddress(m_config.listenAddress)),
      m_startMs(steadyMs()) {
    m_cgi.setSnapshotTaker([this] { return takeSnapshot(); });
}

void CameraCore::event(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emitEvent(m_config.eventSink, format, args);
    va_end(args);
}

void CameraCore::count(uint32_t CameraStats::*field, int delta) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_stats.*field += static_cast<uint32_t>(delta);
}

CameraStats CameraCore::stats() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_stats;
}

void CameraCore::addTalk(const uint8_t* data, size_t length, const std::vector<int16_t>& pcm) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_talkBytes.size() + length <= kMaxTalkBytes) {
        m_talkBytes.insert(m_talkBytes.end(), data, data + length);
    }
    if (m_talkPcm.size() + pcm.size() <= kMaxTalkSamples) {
        m_talkPcm.insert(m_talkPcm.end(), pcm.begin(), pcm.end());
    }
}

std::vector<uint8_t> CameraCore::talkBytes() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_talkBytes;
}

std::vector<int16_t> CameraCore::talkPcm() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_talkPcm;
}

void CameraCore::addSeekTarget(int32_t targetMs) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_seekTargets.size() < 100000) {
        m_seekTargets.push_back(targetMs);
    }
}

std::vector<int32_t> CameraCore::seekTargets() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_seekTargets;
}

std::shared_ptr<NoticeBox> CameraCore::openNoticeBox() {
    auto box = std::make_shared<NoticeBox>();
    const std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_noticeBoxes, [](const std::weak_ptr<NoticeBox>& b) { return b.expired(); });
    m_noticeBoxes.push_back(box);
    return box;
}

size_t CameraCore::broadcast(const std::vector<uint8_t>& packet) {
    const std::lock_guard<std::mutex> guard(m_lock);
    size_t posted = 0;
    for (const auto& weak : m_noticeBoxes) {
        if (const auto box = weak.lock()) {
            box->post(packet);
            ++posted;
        }
    }
    return posted;
}

std::string CameraCore::takeSnapshot() {
    // The picture a live viewer would see now: the main loop's frame for the time since start.
    const VideoLoop& loop = m_streams->video(StreamKind::Main);
    const int frames = static_cast<int>(loop.frames.size());
    const int64_t elapsedMs = steadyMs() - m_startMs;
    const int index = frames > 0 ? static_cast<int>((elapsedMs * loop.fps / 1000) % frames) : 0;
    std::vector<uint8_t> jpeg = encodeJpeg(drawTestPicture(loop.width, loop.height, index));
    if (jpeg.empty()) {
        return {};
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    const std::string path = "snapPic/Snap_" + std::to_string(elapsedMs) + "_" +
                             std::to_string(++m_snapshotSerial) + ".jpg";
    if (m_snapshots.size() >= kMaxSnapshots) {
        m_snapshots.pop_front();
    }
    m_snapshots.emplace_back(path, std::move(jpeg));
    return path;
}

std::optional<std::vector<uint8_t>> CameraCore::snapshot(const std::string& path) const {
    const std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& [name, jpeg] : m_snapshots) {
        if (name == path) {
            return jpeg;
        }
    }
    return std::nullopt;
}

} // namespace camsim
