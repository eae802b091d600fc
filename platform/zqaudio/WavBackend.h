#pragma once

// The device for tests and recordings: playback writes what it plays to a WAV file, capture
// reads a WAV file, both at real-time pace.

#include "Backend.h"

#include <string>

namespace zqaudio {

// Creates (truncates) the WAV file at `path` and plays into it. Null, with the reason on stderr,
// when the file cannot be created.
std::unique_ptr<PlaybackSink> makeWavPlayback(const std::string& path);

// Captures the samples of the WAV file at `path`, then silence. A file that cannot be read or is
// not 8 kHz mono 16-bit PCM is refused with the reason on stderr and gives silence only.
std::shared_ptr<CaptureSource> makeWavCapture(const std::string& path, size_t blockBytes);

} // namespace zqaudio
