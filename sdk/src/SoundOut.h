#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

struct ZQAudioDevice;

namespace moltrex {

// The library's volume for every sound output, 0 to 0xFFFF (as received).
uint32_t soundVolume();
void setSoundVolume(uint32_t volume);

// Scales 16-bit little-endian samples in place by `volume` / 0xFFFF.
void applyVolume(uint8_t* pcm, size_t bytes, uint32_t volume);

// One monitor session's sound output: the camera's audio blocks played on a zqaudio device.
//
// The device never waits for room (it drops its oldest sound instead), so the limit of blocks
// queued is kept here: each block is timed by its length at 16000 bytes/s from when the one
// before it ends, and a block that finds `maxBlocks` still unplayed is not played. Used by the
// session's thread only.
class SoundOut {
public:
    explicit SoundOut(uint32_t maxBlocks);
    ~SoundOut();
    SoundOut(const SoundOut&) = delete;
    SoundOut& operator=(const SoundOut&) = delete;

    // Opens the device; false when it cannot be opened.
    bool on();
    void off();
    bool isOn() const { return m_device != nullptr; }

    // Plays one block of 16-bit PCM at the current volume; false when it was not played (sound
    // off, too many blocks queued, device refused).
    bool play(const uint8_t* pcm, size_t bytes);
    size_t queuedBlocks(uint32_t nowMs);

private:
    const uint32_t m_maxBlocks;
    ZQAudioDevice* m_device = nullptr;
    std::deque<uint32_t> m_blockEndsMs; // when each queued block will have been played
};

} // namespace moltrex
