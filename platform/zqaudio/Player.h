#pragma once

#include "Backend.h"
#include "PlayQueue.h"

#include <memory>
#include <mutex>

namespace zqaudio {

// A playback device: the queue the client writes into and the sink that plays it.
//
// Opening, closing and parameter changes are serialised by one lock; writes never take it, only
// the queue's own short lock, so a write never waits for an open or close in progress.
class Player {
public:
    static constexpr int kDefaultBufferBytes = 8640;

    explicit Player(BackendChoice choice);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    int setBufferBytes(int bytes);
    int open();
    int write(const void* pcm, int length);
    void close();

private:
    const BackendChoice m_choice;
    const std::shared_ptr<PlayQueue> m_queue = std::make_shared<PlayQueue>();
    std::mutex m_lock;
    int m_bufferBytes = kDefaultBufferBytes; // guarded by m_lock
    std::unique_ptr<PlaybackSink> m_sink;    // guarded by m_lock; set while open
};

} // namespace zqaudio
