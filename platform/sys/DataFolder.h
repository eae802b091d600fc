#pragma once

#include <filesystem>
#include <system_error>

namespace sys {

// The folder that holds the program's own data: database, settings file, logs, records and
// pictures by default. It is, in this order:
//   1. $VISTARO_HOME when set and not empty,
//   2. the executable's folder when files can be created there (a portable install),
//   3. ~/.local/share/vistaro.
// Files the program creates there are readable by the user only (0600, folders 0700): they hold
// camera and operator passwords.

inline constexpr const char* kDataHomeVariable = "VISTARO_HOME";
// Files a data folder is seeded with from the delivered copies beside the program.
inline constexpr const char* kSeededFiles[] = {"doDAV.db", "config.dll"};

// The folder of the running executable; empty when it cannot be found.
std::filesystem::path executableFolder();

// Whether a file can be created in `folder` (tried, not guessed from mode bits).
bool canCreateFilesIn(const std::filesystem::path& folder);

// The rule above with its inputs given: `homeOverride` is $VISTARO_HOME, `userHome` is $HOME
// (either may be null). Empty when no rule applies.
std::filesystem::path chooseDataFolder(const char* homeOverride,
                                       const std::filesystem::path& exeFolder,
                                       const char* userHome);

// The rule with the process's environment and executable.
std::filesystem::path dataFolder();

// Creates `folder` and any missing parents, each one created here 0700. Folders that exist are
// left as they are.
bool makePrivateFolder(const std::filesystem::path& folder, std::error_code& error);

// Copies `from` to `to` as a file readable by the user only, through a temporary name so no
// reader ever sees half a copy.
bool copyPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::error_code& error);

// Gives `folder` each seeded file it lacks (missing, or empty as a failed first start leaves
// it) from `deliveredFolder`, when one is delivered there; a delivered file that is missing is
// not an error. Files the folder already has are never touched. False when a copy failed.
bool seedDataFolder(const std::filesystem::path& folder,
                    const std::filesystem::path& deliveredFolder, std::error_code& error);

// dataFolder(), created when missing and seeded from the executable's folder. Empty, with
// `error` set, when the folder cannot be made.
std::filesystem::path prepareDataFolder(std::error_code& error);

} // namespace sys
