#pragma once

#include "SigleDevice.h"

#include <array>
#include <mutex>
#include <string>

namespace Device {

// What an H.264 camera reports about its picture, as the settings panel shows it.
struct ImageParams {
    int brightness = 0;
    int contrast = 0;
    int hue = 0;
    int saturation = 0;
    int sharpness = 0;
    int imageByte = 0; // the byte event 113 reports
};

// An H.264 camera: keeps what the camera reports on its control channel (its parameter block,
// presets, cruises, picture values, alarm state) for the windows, and tells them when it changed.
class CH264Device : public CSigleDevice {
public:
    static constexpr size_t kParamBlockSize = 2219;
    static constexpr size_t kNameSize = 32;
    static constexpr size_t kPresets = 16;
    static constexpr size_t kCruises = 8;

    using CSigleDevice::CSigleDevice;
    // Closes the session while the whole object still exists: callbacks stop before it goes.
    ~CH264Device() override { shutdownSession(); }

    int GetClassCode() const override { return kClassH264; }
    int GetVideoCodec() const override { return 258; }
    int GetAudioCodec() const override { return 260; }
    int GetTalkCodec() const override { return 258; }
    int GetNetType() const override { return 4; }
    int GetTalkBlock() const override { return 960; }

    // 8 (or 16) names of 32 bytes into `buffer`, their count, and the index of the current one
    // (-1 when none). Returns the class code, or -100 before the camera sent its lists.
    int GetCruiseList(char* buffer, int& count, int& current) const;
    int GetPresetList(char* buffer, int& count, int& current) const;
    int GetImageParams(ImageParams& out) const;
    void SetPresetName(const std::string& name);
    void SetCruiseName(const std::string& name);
    void SetImageByte(int value);

    int SwitchStream() override;
    void OnEvent(int kind, int code, const uint8_t* data, int length) override;

    bool cameraAlarm() const { return m_cameraAlarm.load(); }
    bool hasParamBlock() const;
    std::array<uint8_t, kParamBlockSize> paramBlock() const;

protected:
    bool alarmDotRed() const override;
    bool alarmDotYellow() const override;

private:
    int copyNames(const std::array<std::array<char, kNameSize>, kPresets>& names, size_t slots,
                  int known, const std::string& currentName, char* buffer, int& count,
                  int& current) const;
    void takeNames(const uint8_t* data, int length, size_t slots,
                   std::array<std::array<char, kNameSize>, kPresets>& names, int& count);

    mutable std::mutex m_stateLock; // what the control thread writes and windows read
    std::array<uint8_t, kParamBlockSize> m_paramBlock{};
    bool m_hasParamBlock = false;
    std::array<std::array<char, kNameSize>, kPresets> m_presets{};
    std::array<std::array<char, kNameSize>, kPresets> m_cruises{}; // first kCruises used
    int m_presetCount = -1; // -1 until the camera sent the list
    int m_cruiseCount = -1;
    std::string m_currentPreset;
    std::string m_currentCruise;
    ImageParams m_image;
    std::array<int, 2> m_imageBytes103{};
    std::array<int, 2> m_values105{};
    std::atomic<bool> m_cameraAlarm{false};
};

// The second H.264 kind: the same camera protocol reached only by peer-to-peer, talking with the
// voice codec.
class CHXDevice : public CH264Device {
public:
    using CH264Device::CH264Device;

    int GetClassCode() const override { return kClassHx; }
    int GetTalkCodec() const override { return 259; }
    int GetNetType() const override { return 6; }
};

} // namespace Device
