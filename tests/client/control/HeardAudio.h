#pragma once

// What a simulated camera heard from talk, turned back into samples: its ADPCM packets (MJPEG
// cameras) or its voice-codec frames (cameras reached by UID), which the simulators keep as
// they arrived.

#include "audio/ImaAdpcm.h"
#include "voice/Voice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace controltest {

// 6000 samples of what a camera heard, after its first block (codec start-up).
inline std::vector<int16_t> toneOf(const std::vector<int16_t>& heard, size_t skip) {
    if (heard.size() < skip + 6000)
        return {};
    return {heard.begin() + static_cast<long>(skip),
            heard.begin() + static_cast<long>(skip) + 6000};
}

inline std::vector<int16_t> decodeAdpcm(const std::vector<std::vector<uint8_t>>& packets) {
    codec::ImaAdpcmState state;
    std::vector<int16_t> pcm;
    for (const auto& packet : packets) {
        pcm.resize(pcm.size() + packet.size() * 2);
        codec::imaDecode(state, packet.data(), packet.size(),
                         pcm.data() + pcm.size() - packet.size() * 2);
    }
    return pcm;
}

// Whole frames only; a stray byte count or a frame the decoder refuses fails the test.
inline std::vector<int16_t> decodeVoice(const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(bytes.size() % voice::kFrameBytes, 0u);
    voice::DecoderState state{};
    EXPECT_EQ(VOICE_DecReset(&state, voice::kModeNarrowband), voice::kOk);
    std::vector<int16_t> pcm;
    for (size_t at = 0; at + voice::kFrameBytes <= bytes.size(); at += voice::kFrameBytes) {
        int16_t frame[voice::kFrameSamples];
        int samples = 0;
        if (VOICE_DecodeFrame(&state, bytes.data() + at, voice::kFrameBytes, frame, &samples) !=
            voice::kOk) {
            ADD_FAILURE() << "voice frame at " << at << " refused";
            break;
        }
        pcm.insert(pcm.end(), frame, frame + samples);
    }
    return pcm;
}

} // namespace controltest
