#include "H264Device.h"

#include "vidora/vidora.h"

#include <cstring>

namespace Device {

namespace {

int32_t wordAt(const uint8_t* data, int length, int index) {
    if (!data || length < (index + 1) * 4)
        return 0;
    int32_t value;
    std::memcpy(&value, data + index * 4, 4);
    return value;
}

std::string nameText(const std::array<char, CH264Device::kNameSize>& field) {
    return std::string(field.data(), strnlen(field.data(), field.size()));
}

} // namespace

// --- What the windows read ------------------------------------------------------------------------

int CH264Device::copyNames(const std::array<std::array<char, kNameSize>, kPresets>& names,
                           size_t slots, int known, const std::string& currentName, char* buffer,
                           int& count, int& current) const {
    if (known < 0)
        return -100;
    count = known;
    current = -1;
    for (size_t i = 0; i < slots; ++i) {
        if (buffer)
            std::memcpy(buffer + i * kNameSize, names[i].data(), kNameSize);
        if (current < 0 && static_cast<int>(i) < known && !currentName.empty() &&
            nameText(names[i]) == currentName)
            current = static_cast<int>(i);
    }
    return GetClassCode();
}

int CH264Device::GetCruiseList(char* buffer, int& count, int& current) const {
    std::lock_guard lock(m_stateLock);
    return copyNames(m_cruises, kCruises, m_cruiseCount, m_currentCruise, buffer, count, current);
}

int CH264Device::GetPresetList(char* buffer, int& count, int& current) const {
    std::lock_guard lock(m_stateLock);
    return copyNames(m_presets, kPresets, m_presetCount, m_currentPreset, buffer, count, current);
}

int CH264Device::GetImageParams(ImageParams& out) const {
    std::lock_guard lock(m_stateLock);
    out = m_image;
    return GetClassCode();
}

void CH264Device::SetPresetName(const std::string& name) {
    std::lock_guard lock(m_stateLock);
    m_currentPreset = name.substr(0, kNameSize - 1);
}

void CH264Device::SetCruiseName(const std::string& name) {
    std::lock_guard lock(m_stateLock);
    m_currentCruise = name.substr(0, kNameSize - 1);
}

void CH264Device::SetImageByte(int value) {
    std::lock_guard lock(m_stateLock);
    m_image.imageByte = value;
}

bool CH264Device::hasParamBlock() const {
    std::lock_guard lock(m_stateLock);
    return m_hasParamBlock;
}

std::array<uint8_t, CH264Device::kParamBlockSize> CH264Device::paramBlock() const {
    std::lock_guard lock(m_stateLock);
    return m_paramBlock;
}

bool CH264Device::alarmDotRed() const {
    return GetClassCode() == kClassH264 && m_cameraAlarm.load();
}

bool CH264Device::alarmDotYellow() const {
    return GetClassCode() == kClassH264 && recorder().IsRecording(2) &&
           recorder().cameraRecordOnAlarm();
}

// --- Stream switch -------------------------------------------------------------------------------

int CH264Device::SwitchStream() {
    const int toggle = CSigleDevice::SwitchStream();
    if (!handleOpen())
        return toggle;
    SendCommand(5, 0, 0);
    if (decoder())
        ZQ_Reset_Decoder(decoder());
    m_param.streamType = static_cast<uint8_t>(toggle);
    if (environment().postMainWorker)
        environment().postMainWorker(101, 0, reinterpret_cast<intptr_t>(this));
    postParams(kChangedH264State);
    return toggle;
}

// --- Control packets ------------------------------------------------------------------------------

void CH264Device::takeNames(const uint8_t* data, int length, size_t slots,
                            std::array<std::array<char, kNameSize>, kPresets>& names, int& count) {
    // Names, then their count; a short packet fills what it holds and counts only those.
    const size_t whole = std::min(slots, static_cast<size_t>(std::max(length, 0)) / kNameSize);
    for (size_t i = 0; i < slots; ++i) {
        names[i].fill(0);
        if (i < whole) {
            std::memcpy(names[i].data(), data + i * kNameSize, kNameSize - 1);
        }
    }
    const int stated = wordAt(data, length, static_cast<int>(slots * kNameSize / 4));
    count = std::clamp(stated, 0, static_cast<int>(whole));
}

void CH264Device::OnEvent(int kind, int code, const uint8_t* data, int length) {
    if (kind != 256)
        return;
    switch (code) {
    case 7:
        if (wordAt(data, length, 0) == 19)
            onTalkGranted();
        return;
    case 25:
        saveSnapshot(data, length);
        return;
    case 41:
        if (length >= 4 && wordAt(data, length, 0) == -8)
            postParams(kChangedLoginRefused);
        return;
    case 100:
        if (data && length == static_cast<int>(kParamBlockSize)) {
            std::lock_guard lock(m_stateLock);
            std::memcpy(m_paramBlock.data(), data, kParamBlockSize);
            m_hasParamBlock = true;
        }
        postParams(kChangedParams);
        return;
    case 102:
        if (length >= 4)
            m_cameraAlarm = wordAt(data, length, 0) != 0;
        return;
    case 103:
        if (data && length >= 2) {
            std::lock_guard lock(m_stateLock);
            m_imageBytes103 = {data[0], data[1]};
        }
        return;
    case 105:
        if (length >= 8) {
            std::lock_guard lock(m_stateLock);
            m_values105 = {wordAt(data, length, 0), wordAt(data, length, 1)};
        }
        postParams(kChangedH264State);
        return;
    case 106:
        if (data) {
            std::lock_guard lock(m_stateLock);
            takeNames(data, length, kPresets, m_presets, m_presetCount);
        }
        postParams(kChangedPresets);
        return;
    case 107:
        if (data) {
            std::lock_guard lock(m_stateLock);
            takeNames(data, length, kCruises, m_cruises, m_cruiseCount);
        }
        postParams(kChangedCruises);
        return;
    case 108:
    case 109:
    case 111:
        recorder().onH264AlarmEvent(data, length);
        return;
    case 112:
    case 113:
        if (code == 113 && data && length >= 1)
            SetImageByte(data[0]);
        postParams(kChangedH264State);
        return;
    case 110:
        if (data && length >= 5) {
            std::lock_guard lock(m_stateLock);
            m_image.brightness = data[0];
            m_image.contrast = data[1];
            m_image.hue = data[2];
            m_image.saturation = data[3];
            m_image.sharpness = data[4];
        }
        postParams(kChangedH264State);
        return;
    default:
        return;
    }
}

} // namespace Device
