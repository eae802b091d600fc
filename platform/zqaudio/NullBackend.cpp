#include "NullBackend.h"

#include "ClockDevice.h"

namespace zqaudio {

std::unique_ptr<PlaybackSink> makeNullPlayback() {
    return std::make_unique<ClockPlayback>(nullptr);
}

std::shared_ptr<CaptureSource> makeNullCapture(size_t blockBytes) {
    return std::make_shared<ClockCapture>(nullptr, blockBytes);
}

} // namespace zqaudio
