#pragma once

#include <string>
#include <vector>

namespace iotc {
class Relay;
}

namespace camsim {

class CameraControls;

// The simulator's console: one command per line, applied to every camera of the process.
// Returns the text to print; sets `quit` for "quit".
std::string runConsoleCommand(const std::string& line, const std::vector<CameraControls*>& cameras,
                              bool& quit);

// The relay's console: "stats", "drop" (cut every forwarding pair), "quit", "help".
std::string runRelayConsoleCommand(const std::string& line, iotc::Relay& relay, bool& quit);

} // namespace camsim
