#pragma once

// Record folders as the database keeps them, and where a recording sits among them.
//
// A recording lives at <record folder>/<camera folder>/<file>, so the record folder a file
// belongs to (its record root) is the file's path without its last two components. Folders are
// compared as written, after lexical clean-up: "/rec/", "/rec" and "/x/../rec" are one folder,
// but no link is resolved, since a disk that is away must still compare equal to itself.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// The record folders of the `path` row's text: split at "|", empty entries dropped.
std::vector<std::string> splitRecordPaths(std::string_view text);

// `path` cleaned up for comparison: "." and ".." resolved, no trailing separator.
std::filesystem::path comparablePath(const std::filesystem::path& path);

// The record folder `file` belongs to; empty when the file has no camera folder above it.
std::filesystem::path recordRootOf(const std::filesystem::path& file);

// The entry of `folders` that `folder` is (compared as above), as the list writes it; null when
// none. Handing out the listed text keeps a folder stored from it comparable with the list.
const std::string* findFolder(const std::filesystem::path& folder,
                              const std::vector<std::string>& folders);

} // namespace client
