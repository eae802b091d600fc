#pragma once

#include <cstdio>
#include <filesystem>

namespace client {

// Creates (or truncates) `path` for writing, readable by the user only: logs name cameras,
// addresses and operators. Null when it cannot be created.
std::FILE* createPrivateFile(const std::filesystem::path& path);

} // namespace client
