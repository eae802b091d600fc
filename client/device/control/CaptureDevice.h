#pragma once

#include <string>

struct ZQAudioDevice;

namespace Device {

// A capture device, open and delivering blocks of `blockBytes` PCM bytes to `callback(…, user)`
// once restarted; null, with `error` saying why, when it cannot be made or opened.
ZQAudioDevice* openCaptureDevice(int blockBytes, void (*callback)(int, const char*, int, void*),
                                 void* user, std::string& error);

} // namespace Device
