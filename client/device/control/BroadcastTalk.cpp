#include "device/control/BroadcastTalk.h"

#include "common/AppLog.h"
#include "device/control/CaptureDevice.h"
#include "device/control/TalkChannel.h"

#include "zqaudio/zqaudio.h"

#include <algorithm>
#include <string>

namespace Device {

BroadcastTalk::BroadcastTalk(client::AppLog* log) : m_log(log) {}

BroadcastTalk::~BroadcastTalk() {
    stop();
    std::vector<TalkChannel*> members;
    {
        std::lock_guard lock(m_listLock);
        for (Member& member : m_members) {
            member.channel->setBroadcast(nullptr);
            members.push_back(member.channel);
        }
        m_members.clear();
    }
    for (TalkChannel* channel : members)
        channel->resumeOwnCapture();
    std::lock_guard lock(m_deviceLock);
    ReleaseRecDev(m_device);
    m_device = nullptr;
}

bool BroadcastTalk::start() {
    std::lock_guard lock(m_deviceLock);
    if (!m_device) {
        std::string error;
        ZQAudioDevice* device =
            openCaptureDevice(kBlockBytes, &BroadcastTalk::onCaptured, this, error);
        if (!device) {
            LOG_WRITE(m_log, "BroadcastTalk::start", error);
            return false;
        }
        m_device = device;
    }
    const int result = RestartRecDev(m_device);
    if (result != ZQAUDIO_OK) {
        LOG_WRITE(m_log, "BroadcastTalk::start",
                  "the capture device does not start: error " + std::to_string(result));
        return false;
    }
    return true;
}

void BroadcastTalk::stop() {
    std::lock_guard lock(m_deviceLock);
    if (m_device)
        StopRecDev(m_device);
}

bool BroadcastTalk::add(TalkChannel& channel) {
    {
        std::lock_guard lock(m_listLock);
        if (BroadcastTalk* current = channel.broadcast())
            return current == this;
        const auto block = static_cast<size_t>(std::max(channel.profile().blockBytes, 0));
        m_members.push_back(Member{&channel, FixedBlocks(block)});
        channel.setBroadcast(this);
    }
    channel.pauseOwnCapture();
    return true;
}

void BroadcastTalk::remove(TalkChannel& channel) {
    if (detach(channel))
        channel.resumeOwnCapture();
}

bool BroadcastTalk::detach(TalkChannel& channel) {
    std::lock_guard lock(m_listLock);
    const auto found = std::find_if(m_members.begin(), m_members.end(),
                                    [&](const Member& m) { return m.channel == &channel; });
    if (found == m_members.end())
        return false;
    m_members.erase(found);
    channel.setBroadcast(nullptr);
    return true;
}

size_t BroadcastTalk::size() const {
    std::lock_guard lock(m_listLock);
    return m_members.size();
}

void BroadcastTalk::onCaptured(int /*reserved*/, const char* pcm, int length, void* user) {
    static_cast<BroadcastTalk*>(user)->deliver(pcm, length);
}

void BroadcastTalk::deliver(const char* pcm, int length) {
    if (!pcm || length <= 0)
        return;
    std::lock_guard lock(m_listLock);
    for (Member& member : m_members) {
        // A member whose talk is closed drops what it gathered: when it opens again it must
        // start with fresh audio, not with a stale half block.
        if (!member.channel->talkOpen()) {
            member.pcm.clear();
            continue;
        }
        member.pcm.push(pcm, static_cast<size_t>(length), [&](const char* block, size_t bytes) {
            member.channel->sendBlock(block, static_cast<int>(bytes));
        });
    }
}

} // namespace Device
