#pragma once

// The system's sound hardware through PortAudio, at 8000 samples/s mono 16-bit. Where the hardware
// runs at another rate, the host API's own conversion (ALSA's plug layer, the sound server)
// resamples; a device that refuses 8 kHz anyway makes the open fail.

#include "Backend.h"

#include <string>

namespace zqaudio {

// True when PortAudio initialises and has a default device for `direction`.
bool portAudioHasDevice(Direction direction);

class PlayQueue;

// The default output device, started and playing from `queue`; null, with the reason in `error`,
// when it cannot be opened at 8 kHz.
std::unique_ptr<PlaybackSink> startPortAudioPlayback(const std::shared_ptr<PlayQueue>& queue,
                                                     std::string& error);

// The default input device opened for blocks of `blockBytes`; null, with the reason in `error`,
// when it cannot be opened at 8 kHz.
std::shared_ptr<CaptureSource> makePortAudioCapture(size_t blockBytes, std::string& error);

} // namespace zqaudio
