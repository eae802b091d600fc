#include "Player.h"

#include "zqaudio/zqaudio.h"

namespace zqaudio {

Player::Player(BackendChoice choice) : m_choice(std::move(choice)) {}

Player::~Player() {
    close();
}

int Player::setBufferBytes(int bytes) {
    if (bytes < ZQAUDIO_PLAY_BUFFER_MIN || bytes > ZQAUDIO_PLAY_BUFFER_MAX || bytes % 2 != 0)
        return ZQAUDIO_ERR_PARAM;
    std::lock_guard lock(m_lock);
    if (m_sink)
        return ZQAUDIO_ERR_STATE;
    m_bufferBytes = bytes;
    return ZQAUDIO_OK;
}

int Player::open() {
    std::lock_guard lock(m_lock);
    if (m_sink)
        return ZQAUDIO_ERR_STATE;
    m_queue->open(static_cast<size_t>(m_bufferBytes));
    m_sink = startPlayback(m_choice, m_queue);
    if (!m_sink) {
        m_queue->close();
        return ZQAUDIO_ERR_DEVICE;
    }
    return ZQAUDIO_OK;
}

int Player::write(const void* pcm, int length) {
    if (length < 0 || length % 2 != 0 || (!pcm && length > 0))
        return ZQAUDIO_ERR_PARAM;
    const bool queued = m_queue->push(static_cast<const char*>(pcm), static_cast<size_t>(length));
    return queued ? ZQAUDIO_OK : ZQAUDIO_ERR_STATE;
}

void Player::close() {
    std::lock_guard lock(m_lock);
    if (!m_sink)
        return;
    // Refuse writes first, so none lands in a queue nobody plays any more.
    m_queue->close();
    m_sink->stop();
    m_sink.reset();
}

} // namespace zqaudio
