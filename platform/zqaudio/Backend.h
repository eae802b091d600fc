#pragma once

// The two sides of a sound device as the device layer (Player, Recorder) sees them, and the
// choice of which implementation serves a handle. Each implementation lives in its own file:
// PortAudioBackend (the system's sound hardware), NullBackend (no hardware, real-time pace),
// WavBackend (WAV files, real-time pace).

#include <cstddef>
#include <memory>
#include <string>

namespace sys {
class WorkerContext;
}

namespace zqaudio {

class PlayQueue;

// 16-bit mono at 8000 samples per second.
constexpr size_t kBytesPerSecond = 16000;

// Plays audio taken from a PlayQueue at the device's pace.
class PlaybackSink {
public:
    virtual ~PlaybackSink() = default;
    // Starts taking audio from `queue`; false when the device cannot play. A sink is started
    // once: after stop() or a failed start it is of no further use.
    virtual bool start(std::shared_ptr<PlayQueue> queue) = 0;
    // Stops playing; audio not played yet stays in the queue. Bounded wait.
    virtual void stop() = 0;
};

// Captures audio in blocks of a size fixed when the source was opened.
//
// read() runs on the capture thread only; start() and stop() run on the control thread while
// no read() is in progress. A source must clean up in its destructor too: when a capture
// thread overruns its stop, it is the thread that releases the source last.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;
    virtual bool start() = 0;
    // Waits, at the device's pace, for the next block and copies it to `block`. False when the
    // wait ended because `context` was cancelled.
    virtual bool read(char* block, size_t bytes, sys::WorkerContext& context) = 0;
    virtual void stop() = 0;
};

enum class Direction { Playback, Capture };
enum class BackendKind { PortAudio, Null, Wav };

// Which implementation serves a handle, decided when the handle is created.
struct BackendChoice {
    BackendKind kind = BackendKind::Null;
    std::string wavPath; // for Wav: ZQAUDIO_WAV_OUT (playback) or ZQAUDIO_WAV_IN (capture)
};

// Reads ZQAUDIO_DEVICE (and the WAV file variable of `direction`). Unset or empty selects
// PortAudio when it finds a default device for the direction, else the null device; so does
// "portaudio", except that its fallback is noted on stderr. Unknown values select the null device,
// with a note on stderr.
BackendChoice chooseBackend(Direction direction);

// A started playback sink. A PortAudio device that cannot play 8 kHz mono and a WAV file that
// cannot be created fall back to the null device with a note on stderr. Null only when not even
// the null device can start (no thread could be created).
std::unique_ptr<PlaybackSink> startPlayback(const BackendChoice& choice,
                                            const std::shared_ptr<PlayQueue>& queue);

// An opened capture source delivering blocks of `blockBytes`. A PortAudio device that cannot
// record 8 kHz mono falls back to the null device with a note on stderr; a WAV input that cannot
// be used gives silence. Never null.
std::shared_ptr<CaptureSource> openCapture(const BackendChoice& choice, size_t blockBytes);

} // namespace zqaudio
