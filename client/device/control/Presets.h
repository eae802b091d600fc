#pragma once

// Presets and cruises of H.264 cameras, named by text: the name checks, the buffer the names
// travel in, the mapping between the cameras' built-in cruise names and the operator's language,
// and the commands that set, go to and delete them.

#include "device/control/CommandSink.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace Device::Commands {

// The longest preset or cruise name the client sends.
inline constexpr size_t kMaxNameChars = 100;

// A name the operator may give a new preset: 1 to 100 characters, each 0-9, a-z or A-Z. The
// camera puts the name into a URL and its own preset table, so anything else is refused here
// (the window then clears the edit box).
bool validPresetName(std::string_view name);

// The buffer a name is sent from. The window owns one for presets and one for cruises and keeps
// them for its lifetime; a command only borrows the pointer for the duration of the send.
//
// It holds kMaxNameChars + 1 bytes: a full 100-character name in a buffer of exactly 100 bytes
// would have no terminating zero, and the network library would read on past its end.
class NameBuffer {
public:
    // Zero-fills the buffer, then copies at most kMaxNameChars bytes of `name`.
    void assign(std::string_view name);
    void clear() { m_bytes.fill('\0'); }
    const char* c_str() const { return m_bytes.data(); }
    std::string_view view() const { return m_bytes.data(); }
    bool empty() const { return m_bytes[0] == '\0'; }
    // What the commands carry in param1 and param2.
    intptr_t pointer() const { return reinterpret_cast<intptr_t>(m_bytes.data()); }

private:
    std::array<char, kMaxNameChars + 1> m_bytes{};
};

// The language table: the text of a key, or an empty string when the key has none.
using TextLookup = std::function<std::string(std::string_view key)>;

// The six cruise names every camera has built in: "Vertical", "Horizontal", "TopMost",
// "BottomMost", "LeftMost", "RightMost".
const std::array<std::string_view, 6>& builtInCruiseNames();

// What a preset or cruise list shows for a name from the camera: a built-in name shows as the
// language text of "PTZ_" + name (the name itself when the language has no text for it); any
// other name shows unchanged.
std::string shownName(std::string_view cameraName, const TextLookup& lookup);

// The reverse: the name the camera knows for a shown text. A text equal to the language text
// of a built-in name becomes that name; anything else is sent as shown.
std::string cameraName(std::string_view shown, const TextLookup& lookup);

// "prest_set": stores `typed` in `buffer` and sends it with code 50. A name that fails
// validPresetName sends nothing and leaves the buffer as it was.
bool presetSet(CommandSink& sink, NameBuffer& buffer, std::string_view typed);

// "preset_go" (48) and "preset_del" (49) on the shown name selected in the preset list, and
// "track_go" (45) on the shown name selected in the cruise list. The shown text is mapped back
// to the camera's name before it is copied into `buffer` and sent. An empty selection sends
// nothing.
bool presetGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
              const TextLookup& lookup);
bool presetDelete(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
                  const TextLookup& lookup);
bool cruiseGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown,
              const TextLookup& lookup);

// The preset list panel ("pointlist") acts on its selected row: set and go send the name as
// above and then (12, 51, 2 × row + 30), which the camera uses to keep the row's slot in step.
// Delete sends 49; the panel then clears the row's stored name. A negative row sends nothing.
bool pointListSet(CommandSink& sink, NameBuffer& buffer, std::string_view name, int row);
bool pointListGo(CommandSink& sink, NameBuffer& buffer, std::string_view shown, int row,
                 const TextLookup& lookup);
bool pointListDelete(CommandSink& sink, NameBuffer& buffer, std::string_view shown, int row,
                     const TextLookup& lookup);

} // namespace Device::Commands
