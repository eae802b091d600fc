#include "CgiModel.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace camsim {

namespace {

constexpr std::array<const char*, 10> kPtzMoves = {
    "ptzMoveUp",       "ptzMoveDown",       "ptzMoveLeft",        "ptzMoveRight", "ptzMoveTopLeft",
    "ptzMoveTopRight", "ptzMoveBottomLeft", "ptzMoveBottomRight", "ptzReset",     "ptzStopRun"};

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void addField(std::string& fields, const std::string& name, const std::string& value) {
    fields += "<" + name + ">" + xmlEscape(value) + "</" + name + ">\n";
}

void addField(std::string& fields, const std::string& name, int value) {
    addField(fields, name, std::to_string(value));
}

// The integer parameter `name` when present, entirely a decimal number, and within [low, high].
bool intParam(const CgiParams& query, const char* name, int low, int high, int& value) {
    const auto it = query.find(name);
    if (it == query.end() || it->second.empty() || it->second.size() > 9) {
        return false;
    }
    const std::string& text = it->second;
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

// A preset or cruise name: 1 to kMaxNameLength bytes, no control characters.
bool nameParam(const CgiParams& query, const char* name, std::string& value) {
    const auto it = query.find(name);
    if (it == query.end() || it->second.empty() || it->second.size() > CgiModel::kMaxNameLength) {
        return false;
    }
    if (std::any_of(it->second.begin(), it->second.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return false;
    }
    value = it->second;
    return true;
}

std::string param(const CgiParams& query, const char* name) {
    const auto it = query.find(name);
    return it == query.end() ? std::string() : it->second;
}

} // namespace

CgiModel::CgiModel(std::string user, std::string password, std::string ipAddress)
    : m_user(std::move(user)), m_password(std::move(password)), m_ipAddress(std::move(ipAddress)) {
    m_state.presets = {"home", "gate"};
    m_state.cruiseMaps = {"patrol", "sweep"};
}

void CgiModel::setSnapshotTaker(SnapshotTaker taker) {
    m_snapshotTaker = std::move(taker);
}

std::string CgiModel::execute(const CgiParams& query, bool refuseLogins) {
    const std::string command = param(query, "cmd");
    int result = kOk;
    std::string fields;
    if (refuseLogins || param(query, "usr") != m_user || param(query, "pwd") != m_password) {
        result = kWrongLogin;
        const std::lock_guard<std::mutex> guard(m_lock);
        record(command, query, result);
    } else if (command == "snapPicture") {
        // Encoding the picture takes a while; the model's lock is not needed for it.
        const std::string path = m_snapshotTaker ? m_snapshotTaker() : std::string();
        result = path.empty() ? kRefused : kOk;
        const std::lock_guard<std::mutex> guard(m_lock);
        if (result == kOk) {
            ++m_state.snapshots;
            // The client cuts the path out between `<img src="` (plus "../") and `"/>`.
            fields = "<html><body><img src=\"../" + path + "\"/></body></html>";
        }
        record(command, query, result);
    } else {
        const std::lock_guard<std::mutex> guard(m_lock);
        result = run(command, query, fields);
        record(command, query, result);
    }
    std::string answer = "<CGI_Result>\n<result>" + std::to_string(result) + "</result>\n";
    if (result == kOk) {
        answer += fields;
    }
    answer += "</CGI_Result>\n";
    return answer;
}

int CgiModel::run(const std::string& command, const CgiParams& query, std::string& fields) {
    CgiState& s = m_state;
    ImageSettings& image = s.image;

    if (command.empty()) {
        return kOk; // the client sends an empty command to check that the camera answers
    }
    if (command == "getIPInfo") {
        addField(fields, "isDHCP", 0);
        addField(fields, "ip", m_ipAddress);
        addField(fields, "gate", "0.0.0.0");
        addField(fields, "mask", "255.255.255.0");
        addField(fields, "dns1", "0.0.0.0");
        addField(fields, "dns2", "0.0.0.0");
        return kOk;
    }
    if (command == "getImageSetting") {
        addField(fields, "brightness", image.brightness);
        addField(fields, "contrast", image.contrast);
        addField(fields, "hue", image.hue);
        addField(fields, "saturation", image.saturation);
        addField(fields, "sharpness", image.sharpness);
        return kOk;
    }
    if (command == "resetImageSetting") {
        image = ImageSettings{};
        return kOk;
    }
    // Picture values are 0..100. "constrast" is the parameter's name as clients send it.
    struct Setter {
        const char* command;
        const char* param;
        int ImageSettings::*field;
    };
    static constexpr Setter kSetters[] = {
        {"setBrightness", "brightness", &ImageSettings::brightness},
        {"setContrast", "constrast", &ImageSettings::contrast},
        {"setHue", "hue", &ImageSettings::hue},
        {"setSaturation", "saturation", &ImageSettings::saturation},
        {"setSharpness", "sharpness", &ImageSettings::sharpness}};
    for (const Setter& setter : kSetters) {
        if (command == setter.command) {
            return intParam(query, setter.param, 0, 100, image.*setter.field) ? kOk : kBadParameter;
        }
    }
    if (command == "getMirrorAndFlipSetting") {
        addField(fields, "isMirror", s.mirror ? 1 : 0);
        addField(fields, "isFlip", s.flip ? 1 : 0);
        return kOk;
    }
    if (command == "mirrorVideo" || command == "flipVideo") {
        const bool mirror = command == "mirrorVideo";
        int value = 0;
        if (!intParam(query, mirror ? "isMirror" : "isFlip", 0, 1, value)) {
            return kBadParameter;
        }
        (mirror ? s.mirror : s.flip) = value != 0;
        return kOk;
    }
    if (command == "getMainVideoStreamType") {
        addField(fields, "streamType", s.mainStreamType);
        return kOk;
    }
    if (command == "setMainVideoStreamType") {
        return intParam(query, "streamType", 0, 3, s.mainStreamType) ? kOk : kBadParameter;
    }
    if (command == "setPwrFreq") {
        return intParam(query, "freq", 0, 2, s.powerFrequency) ? kOk : kBadParameter;
    }
    if (std::find(kPtzMoves.begin(), kPtzMoves.end(), command) != kPtzMoves.end()) {
        s.lastPtzMove = command;
        return kOk;
    }
    if (command == "zoomIn" || command == "zoomOut" || command == "zoomStop") {
        s.zoom = command;
        return kOk;
    }
    if (command == "openInfraLed" || command == "closeInfraLed") {
        s.infraLedOn = command == "openInfraLed";
        return kOk;
    }
    if (command == "setInfraLedConfig") {
        return intParam(query, "mode", 0, 1, s.infraLedMode) ? kOk : kBadParameter;
    }
    if (command == "getPTZPresetPointList") {
        addField(fields, "cnt", static_cast<int>(s.presets.size()));
        for (size_t i = 0; i < kMaxPresets; ++i) {
            addField(fields, "point" + std::to_string(i), i < s.presets.size() ? s.presets[i] : "");
        }
        return kOk;
    }
    if (command == "ptzAddPresetPoint" || command == "ptzDeletePresetPoint" ||
        command == "ptzGotoPresetPoint") {
        std::string name;
        if (!nameParam(query, "name", name)) {
            return kBadParameter;
        }
        const auto it = std::find(s.presets.begin(), s.presets.end(), name);
        if (command == "ptzAddPresetPoint") {
            if (it != s.presets.end() || s.presets.size() >= kMaxPresets) {
                return kRefused;
            }
            s.presets.push_back(name);
        } else if (it == s.presets.end()) {
            return kRefused;
        } else if (command == "ptzDeletePresetPoint") {
            s.presets.erase(it);
        } else {
            s.lastPreset = name;
        }
        return kOk;
    }
    if (command == "ptzGetCruiseMapList") {
        addField(fields, "cnt", static_cast<int>(s.cruiseMaps.size()));
        for (size_t i = 0; i < kMaxCruiseMaps; ++i) {
            addField(fields, "map" + std::to_string(i),
                     i < s.cruiseMaps.size() ? s.cruiseMaps[i] : "");
        }
        return kOk;
    }
    if (command == "ptzStartCruise") {
        std::string name;
        if (!nameParam(query, "mapName", name)) {
            return kBadParameter;
        }
        if (std::find(s.cruiseMaps.begin(), s.cruiseMaps.end(), name) == s.cruiseMaps.end()) {
            return kRefused;
        }
        s.activeCruise = name;
        return kOk;
    }
    if (command == "ptzStopCruise") {
        s.activeCruise.clear();
        return kOk;
    }
    return kUnknownCommand;
}

void CgiModel::record(const std::string& command, const CgiParams& query, int result) {
    if (m_log.size() >= kMaxLogEntries) {
        m_log.erase(m_log.begin(), m_log.begin() + kMaxLogEntries / 4);
    }
    m_log.push_back(CgiLogEntry{command, query, result});
}

CgiState CgiModel::state() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

std::vector<CgiLogEntry> CgiModel::log() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

} // namespace camsim
