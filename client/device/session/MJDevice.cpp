#include "MJDevice.h"

#include <cstring>

namespace Device {

namespace {

// The camera's flip/mirror value as one word: flip in the high byte, mirror in the low one.
int flipMirrorWord(int value) {
    switch (value) {
    case 1:
        return 256;
    case 2:
        return 1;
    case 3:
        return 257;
    default:
        return 0;
    }
}

constexpr int kParamChanged = 22; // code 8 with 22 bytes: one parameter changed
constexpr int kAlarmNotice = 23;   // code 8 with 23 bytes: the alarm state
constexpr int kFullRecord = 27;

} // namespace

bool CMJDevice::alarmDotRed() const {
    return recorder().IsRecording(2) && alarmAllowedNow() && alarmEnabled();
}

int CMJDevice::GetImageParams(MjpegParams& out) const {
    std::lock_guard lock(m_stateLock);
    if (!m_hasParams)
        return -100;
    out = m_params;
    return GetClassCode();
}

void CMJDevice::OnEvent(int kind, int code, const uint8_t* data, int length) {
    if (kind != 256 || !data)
        return;
    if (code == 7) {
        // A value notice: `data` is the library's int, `length` is not its size.
        int32_t value;
        std::memcpy(&value, data, sizeof value);
        if (value == 19)
            onTalkGranted();
        return;
    }
    if (code == 25) {
        saveSnapshot(data, length);
        return;
    }
    if (code == 8 && length == kAlarmNotice) {
        recorder().onMjpegAlarmEvent(data, length);
        return;
    }
    if (code == 8 && length == kParamChanged) {
        {
            std::lock_guard lock(m_stateLock);
            switch (data[0]) {
            case 0:
                m_params.resolution = data[1];
                break;
            case 1:
                m_params.brightness = data[1] / 16;
                break;
            case 2:
                m_params.contrast = data[1];
                break;
            case 3:
                m_params.mode = data[1];
                break;
            case 5:
                m_params.flipMirror = flipMirrorWord(data[1]);
                break;
            default:
                break;
            }
        }
        postParams(kChangedH264State);
        return;
    }
    if (code == kFullRecord && length >= 8) {
        {
            std::lock_guard lock(m_stateLock);
            m_params.resolution = data[0];
            m_params.brightness = data[1] / 16;
            m_params.contrast = data[2];
            m_params.mode = data[3];
            m_params.flipMirror = (data[6] << 8) | data[7];
            m_hasParams = true;
        }
        postParams(kChangedParams);
    }
}

} // namespace Device
