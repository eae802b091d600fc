// Which implementation serves a handle, and the fallbacks when the chosen one cannot work.

#include "Backend.h"
#include "NullBackend.h"
#include "PortAudioBackend.h"
#include "WavBackend.h"
#include "sys/Diag.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace zqaudio {

namespace {

const char* directionName(Direction direction) {
    return direction == Direction::Playback ? "playback" : "capture";
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A fallback is noted once per process and direction: the client opens and closes its devices
// often, and one line says all there is to say.
void noteOnce(Direction direction, const std::string& why) {
    static std::atomic<bool> noted[2];
    if (!noted[direction == Direction::Playback ? 0 : 1].exchange(true))
        sys::diag("zqaudio: %s: %s; using the null device", directionName(direction), why.c_str());
}

} // namespace

BackendChoice chooseBackend(Direction direction) {
    const std::string requested = environment("ZQAUDIO_DEVICE");
    BackendChoice choice;
    if (requested.empty() || requested == "portaudio") {
        if (portAudioHasDevice(direction))
            choice.kind = BackendKind::PortAudio;
        else if (!requested.empty())
            noteOnce(direction, "PortAudio finds no default sound device");
    } else if (requested == "wav") {
        choice.kind = BackendKind::Wav;
        choice.wavPath =
            environment(direction == Direction::Playback ? "ZQAUDIO_WAV_OUT" : "ZQAUDIO_WAV_IN");
    } else if (requested != "null") {
        noteOnce(direction, "ZQAUDIO_DEVICE=" + requested + " is not portaudio, null or wav");
    }
    return choice;
}

std::unique_ptr<PlaybackSink> startPlayback(const BackendChoice& choice,
                                            const std::shared_ptr<PlayQueue>& queue) {
    std::unique_ptr<PlaybackSink> sink;
    if (choice.kind == BackendKind::PortAudio) {
        std::string error;
        sink = startPortAudioPlayback(queue, error);
        if (!sink)
            noteOnce(Direction::Playback, error);
    } else if (choice.kind == BackendKind::Wav) {
        // makeWavPlayback says itself what is wrong with the file.
        sink = makeWavPlayback(choice.wavPath);
        if (sink && !sink->start(queue))
            sink.reset();
    }
    if (!sink) {
        sink = makeNullPlayback();
        if (!sink->start(queue))
            sink.reset();
    }
    return sink;
}

std::shared_ptr<CaptureSource> openCapture(const BackendChoice& choice, size_t blockBytes) {
    if (choice.kind == BackendKind::Wav)
        return makeWavCapture(choice.wavPath, blockBytes);
    if (choice.kind == BackendKind::PortAudio) {
        std::string error;
        if (auto source = makePortAudioCapture(blockBytes, error))
            return source;
        noteOnce(Direction::Capture, error);
    }
    return makeNullCapture(blockBytes);
}

} // namespace zqaudio
