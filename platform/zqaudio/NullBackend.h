#pragma once

// The device for machines without sound hardware: capture delivers silence, playback discards,
// both at real-time pace.

#include "Backend.h"

namespace zqaudio {

std::unique_ptr<PlaybackSink> makeNullPlayback();
std::shared_ptr<CaptureSource> makeNullCapture(size_t blockBytes);

} // namespace zqaudio
