#include "SoundOut.h"

#include "zqaudio/zqaudio.h"

#include "sys/Tick.h"

#include <atomic>
#include <vector>

namespace moltrex {

namespace {

std::atomic<uint32_t> g_volume{0xFFFF};

constexpr uint32_t kBytesPerSecond = 16000;

} // namespace

uint32_t soundVolume() {
    return g_volume.load();
}

void setSoundVolume(uint32_t volume) {
    g_volume.store(volume > 0xFFFF ? 0xFFFF : volume);
}

void applyVolume(uint8_t* pcm, size_t bytes, uint32_t volume) {
    if (volume >= 0xFFFF)
        return;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const auto sample = static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8);
        const auto scaled = static_cast<int16_t>(static_cast<int32_t>(sample) *
                                                 static_cast<int32_t>(volume) / 0xFFFF);
        const auto bits = static_cast<uint16_t>(scaled);
        pcm[i] = static_cast<uint8_t>(bits);
        pcm[i + 1] = static_cast<uint8_t>(bits >> 8);
    }
}

SoundOut::SoundOut(uint32_t maxBlocks) : m_maxBlocks(maxBlocks < 1 ? 1 : maxBlocks) {}

SoundOut::~SoundOut() {
    off();
}

bool SoundOut::on() {
    if (m_device != nullptr)
        return true;
    ZQAudioDevice* device = CreatePlayDev();
    if (device == nullptr)
        return false;
    // The device's own buffer is made larger than anything the block limit lets through, so it
    // never drops sound on its own.
    int bufferBytes = ZQAUDIO_PLAY_BUFFER_MAX;
    if (SetPlayParam(device, ZQAUDIO_PLAY_BUFFER_SIZE, &bufferBytes) != ZQAUDIO_OK ||
        OpenPlayDev(device) != ZQAUDIO_OK) {
        ReleasePlayDev(device);
        return false;
    }
    m_device = device;
    m_blockEndsMs.clear();
    return true;
}

void SoundOut::off() {
    if (m_device == nullptr)
        return;
    ReleasePlayDev(m_device);
    m_device = nullptr;
    m_blockEndsMs.clear();
}

size_t SoundOut::queuedBlocks(uint32_t nowMs) {
    while (!m_blockEndsMs.empty() && static_cast<int32_t>(m_blockEndsMs.front() - nowMs) <= 0)
        m_blockEndsMs.pop_front();
    return m_blockEndsMs.size();
}

bool SoundOut::play(const uint8_t* pcm, size_t bytes) {
    bytes &= ~static_cast<size_t>(1); // whole samples only
    if (m_device == nullptr || bytes == 0)
        return false;
    const uint32_t now = sys::tickMs();
    if (queuedBlocks(now) >= m_maxBlocks)
        return false;
    std::vector<uint8_t> samples(pcm, pcm + bytes);
    applyVolume(samples.data(), samples.size(), soundVolume());
    if (WriteData(m_device, samples.data(), static_cast<int>(samples.size())) != ZQAUDIO_OK)
        return false;
    const uint32_t startMs = m_blockEndsMs.empty() ? now : m_blockEndsMs.back();
    m_blockEndsMs.push_back(startMs + static_cast<uint32_t>(bytes * 1000 / kBytesPerSecond));
    return true;
}

} // namespace moltrex
