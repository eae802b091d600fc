#pragma once

#include <string>
#include <vector>

namespace camsim {

class H264Camera;

// The simulator's console: one command per line, applied to every camera of the process.
// Returns the text to print; sets `quit` for "quit".
std::string runConsoleCommand(const std::string& line, const std::vector<H264Camera*>& cameras,
                              bool& quit);

} // namespace camsim
