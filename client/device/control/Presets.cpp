#include "device/control/Presets.h"

#include "device/control/Commands.h"

#include <algorithm>
#include <cstring>

namespace Device::Commands {

namespace {

constexpr std::string_view kCruiseKeyPrefix = "PTZ_";

bool isNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string languageText(std::string_view builtIn, const TextLookup& lookup) {
    if (!lookup)
        return {};
    std::string key(kCruiseKeyPrefix);
    key.append(builtIn);
    return lookup(key);
}

// The pointer goes in both parameters, as the command table has it; the library reads the
// first and copies the text before the call returns.
bool sendName(CommandSink& sink, int code, NameBuffer& buffer, std::string_view name) {
    buffer.assign(name);
    if (buffer.empty())
        return false;
    return sink.sendCommand(code, buffer.pointer(), buffer.pointer());
}

intptr_t pointListSlot(int row) {
    return 2 * static_cast<intptr_t>(row) + 30;
}

} // namespace

bool validPresetName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameChars &&
           std::all_of(name.begin(), name.end(), isNameChar);
}

void NameBuffer::assign(std::string_view name) {
    m_bytes.fill('\0');
    // A name read from a camera may carry a zero byte; what follows it could never be sent.
    const size_t length = std::min({name.size(), kMaxNameChars, name.find('\0')});
    std::memcpy(m_bytes.data(), name.data(), length);
}

const std::array<std::string_view, 6>& builtInCruiseNames() {
    static constexpr std::array<std::string_view, 6> kNames{
        "Vertical", "Horizontal", "TopMost", "BottomMost", "LeftMost", "RightMost",
    };
    return kNames;
}

std::string shownName(std::string_view cameraName, const TextLookup& lookup) {
    const auto& builtIn = builtInCruiseNames();
    if (std::find(builtIn.begin(), builtIn.end(), cameraName) != builtIn.end()) {
        std::string text = languageText(cameraName, lookup);
        if (!text.empty())
            return text;
    }
    return std::string(cameraName);
}

std::string cameraName(std::string_view shown, const TextLookup& lookup) {
    if (!shown.empty()) {
        for (std::string_view builtIn : builtInCruiseNames()) {
            if (languageText(builtIn, lookup) == shown)
                return std::string(builtIn);
        }
    }
    return std::string(shown);
}

bool presetSet(CommandSink& sink, NameBuffer& buffer, std::string_view typed) {
    if (!validPresetName(typed))
        return false;
    return sendName(sink, kPresetSet, buffer, typed);
}

bool presetGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
              const TextLookup& lookup) {
    return sendName(sink, kPresetGo, buffer, cameraName(shown, lookup));
}

// The mapping back applies to delete as well: a preset shown under a language text must reach
// the camera under the name the camera gave it, or the camera finds nothing to delete.
bool presetDelete(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
                  const TextLookup& lookup) {
    return sendName(sink, kPresetDelete, buffer, cameraName(shown, lookup));
}

bool cruiseGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
              const TextLookup& lookup) {
    return sendName(sink, kCruiseGo, buffer, cameraName(shown, lookup));
}

bool pointListSet(CommandSink& sink, NameBuffer& buffer, std::string_view name, int row) {
    if (row < 0 || !presetSet(sink, buffer, name))
        return false;
    return sink.sendCommand(kPtz, kPtzPointList, pointListSlot(row));
}

bool pointListGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown, int row,
                 const TextLookup& lookup) {
    if (row < 0 || !presetGo(sink, buffer, shown, lookup))
        return false;
    return sink.sendCommand(kPtz, kPtzPointList, pointListSlot(row));
}

bool pointListDelete(CommandSink& sink, NameBuffer& buffer, std::string_view shown, int row,
                     const TextLookup& lookup) {
    if (row < 0)
        return false;
    return presetDelete(sink, buffer, shown, lookup);
}

} // namespace Device::Commands
