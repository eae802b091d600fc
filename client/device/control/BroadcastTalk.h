#pragma once

// Talking to several cameras at once: one process-wide capture device whose blocks go to every
// session in the talk list, each encoded with that session's own encoder.

#include "device/control/FixedBlocks.h"

#include <cstddef>
#include <mutex>
#include <vector>

struct ZQAudioDevice;

namespace client {
class AppLog;
}

namespace Device {

class TalkChannel;

// Threads: start/stop/add/remove run on the user interface thread; the blocks arrive on the
// capture device's thread. A channel in the list stays valid while a block is being sent to it:
// removing it (or destroying it, which removes it) waits for that block.
class BroadcastTalk {
public:
    // PCM bytes per captured block. The cameras' encoders take other sizes (960 bytes for G.726
    // and the voice codec), so each member re-cuts the stream to its own block size.
    static constexpr int kBlockBytes = 640;

    // `log` (may be null) must outlive the object.
    explicit BroadcastTalk(client::AppLog* log = nullptr);
    // Stops the device, lets every member go back to its own capture state and releases the
    // device. Destroy it after the channels' last use on the user interface thread, or before
    // them: not while another thread destroys a member.
    ~BroadcastTalk();
    BroadcastTalk(const BroadcastTalk&) = delete;
    BroadcastTalk& operator=(const BroadcastTalk&) = delete;

    // Creates and opens the capture device on first use, then starts its blocks.
    bool start();
    // Stops the blocks; when it returns no block is being delivered.
    void stop();

    // Adds a session's talk channel; its own capture device pauses while it is a member. False
    // when the channel belongs to another broadcast. Adding a member again changes nothing.
    bool add(TalkChannel& channel);
    // Removes it; its own capture resumes when its talk is still open.
    void remove(TalkChannel& channel);
    size_t size() const;

private:
    friend class TalkChannel;

    struct Member {
        TalkChannel* channel;
        FixedBlocks pcm; // the captured stream re-cut to the channel's block size
    };

    static void onCaptured(int reserved, const char* pcm, int length, void* user);
    void deliver(const char* pcm, int length);
    // Takes the channel out of the list without touching its device; from its destructor too.
    bool detach(TalkChannel& channel);

    client::AppLog* const m_log;

    // Held while StopRecDev waits for the capture callback, which never takes it.
    std::mutex m_deviceLock;
    ZQAudioDevice* m_device = nullptr; // guarded by m_deviceLock

    // The talk list. Held while a block is delivered to the members, so a member leaves only
    // between blocks. Taken before a member's encoder lock, never after it.
    mutable std::mutex m_listLock;
    std::vector<Member> m_members; // guarded by m_listLock
};

} // namespace Device
