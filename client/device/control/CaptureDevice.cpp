#include "device/control/CaptureDevice.h"

#include "zqaudio/zqaudio.h"

namespace Device {

ZQAudioDevice* openCaptureDevice(int blockBytes, void (*callback)(int, const char*, int, void*),
                                 void* user, std::string& error) {
    ZQAudioDevice* device = CreateRecDev();
    if (!device) {
        error = "no memory for a capture device";
        return nullptr;
    }
    int result = SetRecDataCallback(device, callback, user);
    if (result == ZQAUDIO_OK)
        result = SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, &blockBytes);
    if (result == ZQAUDIO_OK)
        result = OpenRecDev(device);
    if (result != ZQAUDIO_OK) {
        ReleaseRecDev(device);
        error = "cannot open the capture device: error " + std::to_string(result);
        return nullptr;
    }
    return device;
}

} // namespace Device
