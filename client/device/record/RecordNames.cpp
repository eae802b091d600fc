#include "device/record/RecordNames.h"

#include <cstdio>

namespace Device {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFolderPrefix = "Recordfiles_";
constexpr size_t kDateDigits = 14;
constexpr size_t kSequenceDigits = 2;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitsValue(std::string_view digits) {
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// The 14 digits YYYYMMDDhhmmss as a time a clock could have shown; a leap second is allowed.
std::optional<LocalTime> dateOfDigits(std::string_view digits) {
    LocalTime time;
    time.year = digitsValue(digits.substr(0, 4));
    time.month = digitsValue(digits.substr(4, 2));
    time.day = digitsValue(digits.substr(6, 2));
    time.hour = digitsValue(digits.substr(8, 2));
    time.minute = digitsValue(digits.substr(10, 2));
    time.second = digitsValue(digits.substr(12, 2));
    if (time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > daysInMonth(time.year, time.month) || time.hour > 23 || time.minute > 59 ||
        time.second > 60) {
        return std::nullopt;
    }
    return time;
}

std::string normalKey(const fs::path& file) {
    return file.lexically_normal().string();
}

} // namespace

std::string_view recordKindWord(int kind) {
    switch (kind) {
    case kRecordManual:
        return "Manual";
    case kRecordSchedule:
        return "Schedule";
    case kRecordAlarm:
        return "Alarm";
    default:
        return {};
    }
}

std::string utf8Path(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string recordFolderName(std::string_view host) {
    std::string name(kFolderPrefix);
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unsafe = byte < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' ||
                            c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
        name.push_back(unsafe ? '_' : c);
    }
    return name;
}

fs::path recordFolder(const fs::path& root, std::string_view host) {
    return root.lexically_normal() / recordFolderName(host);
}

std::string recordFileName(int kind, const LocalTime& start, int sequence) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", start.year, start.month,
                  start.day, start.hour, start.minute, start.second);
    std::string name(recordKindWord(kind));
    name += '_';
    name += digits;
    if (sequence > 0) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%02d", sequence % 100);
        name += suffix;
    }
    name += ".avi";
    return name;
}

std::string recordFileDate(const LocalTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

std::optional<ParsedRecordName> parseRecordFileName(std::string_view name) {
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos || name.find('.', dot + 1) != std::string_view::npos ||
        name.substr(dot + 1) != "avi") {
        return std::nullopt;
    }
    const std::string_view stem = name.substr(0, dot);
    const size_t underscore = stem.find('_');
    if (underscore == std::string_view::npos ||
        stem.find('_', underscore + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view word = stem.substr(0, underscore);
    const std::string_view digits = stem.substr(underscore + 1);
    if (digits.size() != kDateDigits && digits.size() != kDateDigits + kSequenceDigits) {
        return std::nullopt;
    }
    for (char c : digits) {
        if (!isDigit(c))
            return std::nullopt;
    }
    ParsedRecordName parsed;
    parsed.kind = -1;
    for (int kind = 0; kind < kRecordKinds; ++kind) {
        if (word == recordKindWord(kind))
            parsed.kind = kind;
    }
    const std::optional<LocalTime> date = dateOfDigits(digits);
    if (parsed.kind < 0 || !date) {
        return std::nullopt;
    }
    parsed.fileDate = recordFileDate(*date);
    return parsed;
}

bool isRecordFolderSuffix(std::string_view suffix) {
    if (suffix.size() == 20) {
        bool uid = true;
        for (char c : suffix)
            uid = uid && (isDigit(c) || (c >= 'A' && c <= 'Z'));
        if (uid)
            return true;
    }
    int numbers = 0;
    size_t start = 0;
    while (start <= suffix.size()) {
        size_t dot = suffix.find('.', start);
        if (dot == std::string_view::npos)
            dot = suffix.size();
        const std::string_view number = suffix.substr(start, dot - start);
        if (number.empty() || number.size() > 3)
            return false;
        for (char c : number) {
            if (!isDigit(c))
                return false;
        }
        if (digitsValue(number) > 255 || ++numbers > 4)
            return false;
        start = dot + 1;
    }
    return numbers == 4;
}

OpenRecordings& OpenRecordings::instance() {
    static OpenRecordings registry;
    return registry;
}

void OpenRecordings::add(const fs::path& file) {
    std::lock_guard guard(m_lock);
    m_files.insert(normalKey(file));
}

void OpenRecordings::remove(const fs::path& file) {
    std::lock_guard guard(m_lock);
    const auto found = m_files.find(normalKey(file));
    if (found != m_files.end())
        m_files.erase(found);
}

bool OpenRecordings::contains(const fs::path& file) const {
    std::lock_guard guard(m_lock);
    return m_files.count(normalKey(file)) > 0;
}

} // namespace Device
