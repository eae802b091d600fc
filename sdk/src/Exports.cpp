// The library's C boundary. Every export checks its arguments, hands the work to a worker thread
// and returns; each runs inside guarded(), so no exception (out of memory included) crosses into
// the host.

#include "moltrex/moltrex.h"

#include "Heap.h"
#include "Jpeg.h"
#include "ManagementSession.h"
#include "MonitorSession.h"
#include "Records.h"
#include "Registry.h"
#include "Search.h"
#include "SoundOut.h"

#include <cstring>
#include <climits>

using namespace moltrex;

namespace {

template <typename Body> int16_t guarded(Body&& body) {
    try {
        return body();
    } catch (...) {
        return MO_ERR_START;
    }
}

int16_t connect(SessionKind kind, const char* id, const char* user, const char* password,
                uint32_t ip, uint16_t port, const Target& target) {
    if (!validCameraId(id) || !validCredential(user) || !validCredential(password) || ip == 0 ||
        port == 0 || !target.valid())
        return MO_ERR_PARAM;
    Endpoint endpoint{id, user, password, ip, port};
    const Tuning settings = tuning();
    std::shared_ptr<Session> session;
    if (kind == SessionKind::Management)
        session = std::make_shared<ManagementSession>(std::move(endpoint), target, settings);
    else
        session = std::make_shared<MonitorSession>(std::move(endpoint), target, settings);
    return Registry::instance().startSession(session);
}

int16_t request(SessionKind kind, const char* id, int code, uint32_t value1 = 0,
                uint32_t value2 = 0) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id))
            return MO_ERR_PARAM;
        auto work = std::make_unique<Request>();
        work->code = code;
        work->value1 = value1;
        work->value2 = value2;
        return Registry::instance().post(kind, id, std::move(work));
    });
}

int16_t management(const char* id, int code, uint32_t value1 = 0, uint32_t value2 = 0) {
    return request(SessionKind::Management, id, code, value1, value2);
}

int16_t monitor(const char* id, int code, uint32_t value1 = 0, uint32_t value2 = 0) {
    return request(SessionKind::Monitor, id, code, value1, value2);
}

int16_t upgrade(const char* id, const char* path, int code) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id) || path == nullptr || path[0] == '\0' ||
            strnlen(path, PATH_MAX) >= PATH_MAX)
            return MO_ERR_PARAM;
        auto work = std::make_unique<Request>();
        work->code = code;
        work->path = path;
        return Registry::instance().post(SessionKind::Management, id, std::move(work));
    });
}

} // namespace

extern "C" {

int16_t SearchCamera(MO_WINDOW window, MO_THREAD thread, MO_CALLBACK callback, uint32_t timeoutMs) {
    return guarded([&]() -> int16_t {
        const Target target{window, thread, callback};
        if (!target.valid())
            return MO_ERR_PARAM;
        return startSearch(target, timeoutMs);
    });
}

int16_t InitCamera(const MO_INIT_RECORD* record, MO_WINDOW window, MO_THREAD thread,
                   MO_CALLBACK callback, uint32_t timeoutMs) {
    return guarded([&]() -> int16_t {
        const Target target{window, thread, callback};
        if (record == nullptr || !target.valid())
            return MO_ERR_PARAM;
        return startSetup(*record, target, timeoutMs);
    });
}

int16_t MgrConnect(const char* id, const char* user, const char* password, uint32_t ip,
                   uint16_t port, MO_WINDOW window, MO_THREAD thread, MO_CALLBACK callback) {
    return guarded([&] {
        return connect(SessionKind::Management, id, user, password, ip, port,
                       Target{window, thread, callback});
    });
}

int16_t MgrDisconnect(const char* id) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id))
            return MO_ERR_PARAM;
        return Registry::instance().stop(SessionKind::Management, id);
    });
}

int16_t GetCameraParams(const char* id) {
    return management(id, kGetParams);
}

int16_t SetCameraParams(const char* id, const MO_CAMERA_PARAMS* params) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id) || params == nullptr)
            return MO_ERR_PARAM;
        const auto normalised = normaliseCameraParams(*params);
        if (!normalised)
            return MO_ERR_PARAM;
        auto work = std::make_unique<Request>();
        work->code = kSetParams;
        work->bytes = packCameraParams(*normalised);
        return Registry::instance().post(SessionKind::Management, id, std::move(work));
    });
}

int16_t GetTime(const char* id) {
    return management(id, kGetTime);
}

int16_t SetTime(const char* id, uint32_t secondsSince1970, int32_t zoneSecondsEast) {
    return management(id, kSetTime, secondsSince1970, static_cast<uint32_t>(zoneSecondsEast));
}

int16_t UpgradeSysWare(const char* id, const char* path) {
    return upgrade(id, path, kUpgradeSystem);
}

int16_t UpgradeAppWare(const char* id, const char* path) {
    return upgrade(id, path, kUpgradeApplication);
}

int16_t Reboot(const char* id) {
    return management(id, kReboot);
}

int16_t SetDefaultConfig(const char* id) {
    return management(id, kFactoryReset);
}

int16_t GetNet2Params(const char* id) {
    return management(id, kGetNet2);
}

int16_t SetNet2Params(const char* id, const MO_NET2_PARAMS* params) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id) || params == nullptr || !validNet2Params(*params))
            return MO_ERR_PARAM;
        auto work = std::make_unique<Request>();
        work->code = kSetNet2;
        work->bytes = packNet2Params(*params);
        return Registry::instance().post(SessionKind::Management, id, std::move(work));
    });
}

int16_t GetDDNSStatus(const char* id) {
    return management(id, kGetDdns);
}

int16_t RestartDynDns(const char* id) {
    return management(id, kRestartDdns);
}

int16_t MonitorConnect(const char* id, const char* user, const char* password, uint32_t ip,
                       uint16_t port, MO_WINDOW window, MO_THREAD thread, MO_CALLBACK callback) {
    return guarded([&] {
        return connect(SessionKind::Monitor, id, user, password, ip, port,
                       Target{window, thread, callback});
    });
}

int16_t MonitorDisconnect(const char* id) {
    return guarded([&]() -> int16_t {
        if (!validCameraId(id))
            return MO_ERR_PARAM;
        return Registry::instance().stop(SessionKind::Monitor, id);
    });
}

int16_t PlayVideo(const char* id) {
    return monitor(id, kPlayVideo);
}

int16_t StopVideo(const char* id) {
    return monitor(id, kStopVideo);
}

int16_t PlayAudio(const char* id) {
    return monitor(id, kPlayAudio);
}

int16_t StopAudio(const char* id) {
    return monitor(id, kStopAudio);
}

int16_t SetMaxVideoRate(const char* id, uint32_t rate) {
    return monitor(id, kSetMaxVideoRate, rate);
}

int16_t SensorControl(const char* id, uint32_t value1, uint32_t value2) {
    return monitor(id, kSensorControl, value1, value2);
}

int16_t DecoderControl(const char* id, uint32_t value) {
    return monitor(id, kDecoderControl, value);
}

int16_t SetSoundOn(const char* id) {
    return monitor(id, kSoundOn);
}

int16_t SetSoundOff(const char* id) {
    return monitor(id, kSoundOff);
}

uint32_t GetVolume(void) {
    return soundVolume();
}

int16_t SetVolume(uint32_t volume) {
    if (volume > MO_VOLUME_MAX)
        return MO_ERR_PARAM;
    setSoundVolume(volume);
    return MO_OK;
}

int JpegToRGB(const MO_PICTURE* picture, uint8_t** rgb, int* width, int* height, int* bitsPerPixel,
              int bottomUp) {
    try {
        if (picture == nullptr || rgb == nullptr || width == nullptr || height == nullptr ||
            bitsPerPixel == nullptr)
            return 0;
        RgbPicture decoded;
        if (!decodeJpeg(picture->data, picture->length, bottomUp != 0, decoded))
            return 0;
        *rgb = decoded.pixels;
        *width = decoded.width;
        *height = decoded.height;
        *bitsPerPixel = 24;
        return 1;
    } catch (...) {
        return 0;
    }
}

void FreeMemory(void* pointer) {
    heap::release(pointer);
}

} // extern "C"
