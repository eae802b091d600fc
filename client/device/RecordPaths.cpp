#include "device/RecordPaths.h"

namespace client {

namespace fs = std::filesystem;

std::vector<std::string> splitRecordPaths(std::string_view text) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= text.size()) {
        size_t bar = text.find('|', start);
        if (bar == std::string_view::npos)
            bar = text.size();
        if (bar > start)
            folders.emplace_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    return folders;
}

fs::path comparablePath(const fs::path& path) {
    fs::path clean = path.lexically_normal();
    if (!clean.has_filename() && clean.has_relative_path())
        clean = clean.parent_path();
    return clean;
}

fs::path recordRootOf(const fs::path& file) {
    const fs::path clean = comparablePath(file);
    // Without a camera folder and a file name below some folder there is no record root; a
    // bare "/name" would otherwise make "/" the root of a recording.
    const fs::path cameraFolder = clean.parent_path();
    if (!clean.has_filename() || !cameraFolder.has_relative_path())
        return {};
    return cameraFolder.parent_path();
}

const std::string* findFolder(const fs::path& folder, const std::vector<std::string>& folders) {
    if (folder.empty())
        return nullptr;
    const fs::path wanted = comparablePath(folder);
    for (const std::string& candidate : folders) {
        if (comparablePath(candidate) == wanted)
            return &candidate;
    }
    return nullptr;
}

} // namespace client
