#pragma once

#include "SigleDevice.h"

#include <array>
#include <mutex>

namespace Device {

// What an MJPEG camera reports about its picture.
struct MjpegParams {
    int resolution = 0;
    int brightness = 0; // as the slider shows it: the camera's value / 16
    int contrast = 0;
    int mode = 0;
    int flipMirror = 0; // 256 flip, 1 mirror, 257 both
};

// An MJPEG camera (models 16 and 18): keeps the picture parameters the camera reports.
class CMJDevice : public CSigleDevice {
public:
    using CSigleDevice::CSigleDevice;
    ~CMJDevice() override { shutdownSession(); }

    int GetClassCode() const override { return kClassMjpeg; }
    int GetVideoCodec() const override { return 259; }
    int GetAudioCodec() const override { return 257; }
    int GetTalkCodec() const override { return 257; }
    int GetNetType() const override { return 1; }
    int GetTalkBlock() const override { return 640; }
    // MJPEG cameras have one stream.
    void SetStreamType(int) override { m_param.streamType = 1; }

    // The class code, or -100 before the camera sent its parameters.
    int GetImageParams(MjpegParams& out) const;
    void OnEvent(int kind, int code, const uint8_t* data, int length) override;

protected:
    bool alarmDotRed() const override;

private:
    mutable std::mutex m_stateLock;
    MjpegParams m_params;
    bool m_hasParams = false;
};

} // namespace Device
