#pragma once

// Where recordings lie and what their names say. The recorder writes these names and the rescan
// reads them back, so both sides live here and cannot drift apart:
//
//   <record root>/Recordfiles_<host>/<Kind>_<YYYYMMDDhhmmss>[NN].avi
//
// <Kind> is "Manual", "Schedule" or "Alarm" (RecordKind). The optional two digits NN (01 … 99)
// appear only when a recording of that kind and camera was already started in the same second:
// they keep the name one word, an underscore and one run of digits, so every reader that takes
// the first 14 digits as the start time still reads it right.

#include "device/record/RecordClock.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace Device {

// The three recording kinds; also recordfile.filetype and the file name prefix.
enum RecordKind : int { kRecordManual = 0, kRecordSchedule = 1, kRecordAlarm = 2 };
inline constexpr int kRecordKinds = 3;

// "Manual", "Schedule", "Alarm"; empty for anything else.
std::string_view recordKindWord(int kind);

// Paths as the database, the logs and the AVI library spell them: UTF-8 text.
std::string utf8Path(const std::filesystem::path& path);
std::filesystem::path pathFromUtf8(std::string_view text);

// "Recordfiles_" + host. A host is whatever the operator typed (an address, a UID, a name), so
// characters that would leave the folder or are not allowed in a folder name become "_".
std::string recordFolderName(std::string_view host);

// <root>/Recordfiles_<host>, root cleaned up lexically so "/rec" and "/rec/" give one folder and
// the file names the recorder stores match the ones the rescan builds.
std::filesystem::path recordFolder(const std::filesystem::path& root, std::string_view host);

// "<Kind>_YYYYMMDDhhmmss.avi", with `sequence` (1 … 99) as two more digits when non-zero.
std::string recordFileName(int kind, const LocalTime& start, int sequence = 0);

// "%.4d-%.2d-%.2d %.2d:%.2d:%.2d": recordfile.filedate.
std::string recordFileDate(const LocalTime& time);

struct ParsedRecordName {
    int kind = 0;
    std::string fileDate; // from the first 14 digits
};

// Reads a name written by recordFileName: one dot with the extension "avi", one underscore
// between a kind word and 14 or 16 digits whose first 14 are a possible date and time. Anything
// else is not a recording.
std::optional<ParsedRecordName> parseRecordFileName(std::string_view name);

// Whether a camera folder's suffix names a camera: a UID (exactly 20 of 0-9, A-Z) or a dotted
// IPv4 address (four decimal numbers of one to three digits, each at most 255).
bool isRecordFolderSuffix(std::string_view suffix);

// The recordings this process is writing now. The rescan leaves them alone: they are incomplete
// by nature, and their recorder enters them into the table when it closes them.
class OpenRecordings {
public:
    static OpenRecordings& instance();
    void add(const std::filesystem::path& file);
    void remove(const std::filesystem::path& file);
    bool contains(const std::filesystem::path& file) const;

private:
    mutable std::mutex m_lock;
    std::multiset<std::string> m_files; // guarded by m_lock; lexically normal paths
};

} // namespace Device
