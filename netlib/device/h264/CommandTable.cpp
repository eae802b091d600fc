#include "device/h264/CommandTable.h"

#include "parsix/UrlEncode.h"

#include <cstring>
#include <string_view>

namespace zq::h264 {

namespace {

constexpr size_t kMaxNameBytes = 255;

// "name=<value>" commands: the prefix ends with '='.
std::string withNumber(std::string_view prefix, intptr_t value) {
    return std::string(prefix) + std::to_string(static_cast<int>(value));
}

// A camera splits the query on '&' and '=', so a name carrying them would cut the command
// short or add parameters: they travel percent-encoded.
std::string withName(std::string_view prefix, intptr_t namePointer) {
    const auto* name = reinterpret_cast<const char*>(namePointer);
    if (!name)
        return {};
    const std::string_view text(name, strnlen(name, kMaxNameBytes));
    if (text.empty())
        return {};
    return std::string(prefix) + Parse::url_encode_component(text);
}

} // namespace

const char* ptzMoveName(int moveCode) {
    static const char* const kMoves[] = {
        "ptzMoveUp",      "ptzMoveDown",     "ptzMoveLeft",       "ptzMoveRight",
        "ptzMoveTopLeft", "ptzMoveTopRight", "ptzMoveBottomLeft", "ptzMoveBottomRight",
        "ptzReset",       "ptzStopRun",
    };
    if (moveCode >= 0 && moveCode <= 9)
        return kMoves[moveCode];
    if (moveCode == 18)
        return "ptzReset";
    return nullptr;
}

bool isPtzMove(int code) {
    return ptzMoveName(code) != nullptr;
}

bool isControlQuery(int code) {
    switch (code) {
    case 25:
    case 27:
    case 28:
    case 29:
    case 36:
    case 40:
    case 42:
    case 44:
    case 46:
    case 47:
    case 105:
        return true;
    default:
        return false;
    }
}

std::string cgiCommandText(int command, intptr_t param1, intptr_t param2) {
    switch (command) {
    case 31:
        return withNumber("setSaturation&saturation=", param1);
    case 32:
        return withNumber("setHue&hue=", param1);
    case 33:
        return withNumber("setContrast&constrast=", param1);
    case 34:
        return withNumber("setBrightness&brightness=", param1);
    case 35:
        return withNumber("setSharpness&sharpness=", param1);
    case 37:
        return withNumber("mirrorVideo&isMirror=", param2);
    case 38:
        return withNumber("flipVideo&isFlip=", param2);
    case 39:
        return withNumber("setMainVideoStreamType&streamType=", param1);
    case 43:
        return withNumber("setPwrFreq&freq=", param1);
    case 45:
        return withName("ptzStartCruise&mapName=", param1);
    case 48:
        return withName("ptzGotoPresetPoint&name=", param1);
    case 49:
        return withName("ptzDeletePresetPoint&name=", param1);
    case 50:
        return withName("ptzAddPresetPoint&name=", param1);
    case 61:
        if (param1 == 0)
            return "openInfraLed";
        if (param1 == 1)
            return "closeInfraLed";
        if (param1 == 2)
            return withNumber("setInfraLedConfig&mode=", param2);
        return {};
    case 64:
        return "zoomIn";
    case 65:
        return "zoomOut";
    case 66:
        return "zoomStop";
    default:
        return {};
    }
}

} // namespace zq::h264
