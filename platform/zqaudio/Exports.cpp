// The flat functions of zqaudio.h: handle checks and the exception barrier around Player and
// Recorder.

#include "Player.h"
#include "Recorder.h"
#include "sys/Diag.h"
#include "zqaudio/zqaudio.h"

#include <new>

// The handle type of the public header: one of the two devices.
struct ZQAudioDevice {
    std::unique_ptr<zqaudio::Player> player;     // set for playback handles
    std::unique_ptr<zqaudio::Recorder> recorder; // set for capture handles
};

namespace {

// No exception may cross into the caller, who may not be C++.
template <typename Fn> int guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return ZQAUDIO_ERR_INTERNAL;
    }
}

zqaudio::Player* playerOf(ZQAudioDevice* device) {
    return device ? device->player.get() : nullptr;
}

zqaudio::Recorder* recorderOf(ZQAudioDevice* device) {
    return device ? device->recorder.get() : nullptr;
}

// The int behind `value` when `param` is the one parameter a device knows, else null.
const int* intParam(int param, int known, const void* value) {
    return param == known ? static_cast<const int*>(value) : nullptr;
}

} // namespace

ZQAudioDevice* CreatePlayDev(void) {
    try {
        auto device = std::make_unique<ZQAudioDevice>();
        device->player =
            std::make_unique<zqaudio::Player>(zqaudio::chooseBackend(zqaudio::Direction::Playback));
        return device.release();
    } catch (...) {
        return nullptr;
    }
}

int SetPlayParam(ZQAudioDevice* device, int param, const void* value) {
    zqaudio::Player* player = playerOf(device);
    if (!player)
        return ZQAUDIO_ERR_HANDLE;
    const int* bytes = intParam(param, ZQAUDIO_PLAY_BUFFER_SIZE, value);
    if (!bytes)
        return ZQAUDIO_ERR_PARAM;
    return guarded([&] { return player->setBufferBytes(*bytes); });
}

int OpenPlayDev(ZQAudioDevice* device) {
    zqaudio::Player* player = playerOf(device);
    if (!player)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return player->open(); });
}

int WriteData(ZQAudioDevice* device, const void* pcm, int length) {
    zqaudio::Player* player = playerOf(device);
    if (!player)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return player->write(pcm, length); });
}

void ClosePlayDev(ZQAudioDevice* device) {
    if (zqaudio::Player* player = playerOf(device)) {
        guarded([&] {
            player->close();
            return ZQAUDIO_OK;
        });
    }
}

void ReleasePlayDev(ZQAudioDevice* device) {
    if (!device)
        return;
    if (!device->player) {
        sys::diag("zqaudio: ReleasePlayDev given a capture device; not released");
        return;
    }
    guarded([&] {
        delete device;
        return ZQAUDIO_OK;
    });
}

ZQAudioDevice* CreateRecDev(void) {
    try {
        auto device = std::make_unique<ZQAudioDevice>();
        device->recorder = std::make_unique<zqaudio::Recorder>(
            zqaudio::chooseBackend(zqaudio::Direction::Capture));
        return device.release();
    } catch (...) {
        return nullptr;
    }
}

int SetRecDataCallback(ZQAudioDevice* device, RecDataCallback callback, void* user) {
    zqaudio::Recorder* recorder = recorderOf(device);
    if (!recorder)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return recorder->setCallback(callback, user); });
}

int SetRecParam(ZQAudioDevice* device, int param, const void* value) {
    zqaudio::Recorder* recorder = recorderOf(device);
    if (!recorder)
        return ZQAUDIO_ERR_HANDLE;
    const int* bytes = intParam(param, ZQAUDIO_REC_BLOCK_SIZE, value);
    if (!bytes)
        return ZQAUDIO_ERR_PARAM;
    return guarded([&] { return recorder->setBlockBytes(*bytes); });
}

int OpenRecDev(ZQAudioDevice* device) {
    zqaudio::Recorder* recorder = recorderOf(device);
    if (!recorder)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return recorder->open(); });
}

int RestartRecDev(ZQAudioDevice* device) {
    zqaudio::Recorder* recorder = recorderOf(device);
    if (!recorder)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return recorder->restart(); });
}

int StopRecDev(ZQAudioDevice* device) {
    zqaudio::Recorder* recorder = recorderOf(device);
    if (!recorder)
        return ZQAUDIO_ERR_HANDLE;
    return guarded([&] { return recorder->stop(); });
}

void CloseRecDev(ZQAudioDevice* device) {
    if (zqaudio::Recorder* recorder = recorderOf(device)) {
        guarded([&] {
            recorder->close();
            return ZQAUDIO_OK;
        });
    }
}

void ReleaseRecDev(ZQAudioDevice* device) {
    if (!device)
        return;
    if (!device->recorder) {
        sys::diag("zqaudio: ReleaseRecDev given a playback device; not released");
        return;
    }
    if (device->recorder->onCaptureThread()) {
        sys::diag("zqaudio: releasing a capture device from its own callback is refused");
        return;
    }
    guarded([&] {
        delete device;
        return ZQAUDIO_OK;
    });
}
