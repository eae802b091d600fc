#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

struct ImageSettings {
    int brightness = 50;
    int contrast = 50;
    int hue = 50;
    int saturation = 50;
    int sharpness = 50;
};

// Everything the CGI commands can change, as a test sees it.
struct CgiState {
    ImageSettings image;
    bool mirror = false;
    bool flip = false;
    int mainStreamType = 0;
    int powerFrequency = 1;
    std::string lastPtzMove; // last ptzMove*/ptzReset/ptzStopRun command name
    std::string zoom = "zoomStop";
    bool infraLedOn = false;
    int infraLedMode = 0;
    std::vector<std::string> presets;    // at most kMaxPresets
    std::vector<std::string> cruiseMaps; // at most kMaxCruiseMaps
    std::string lastPreset;              // target of the last accepted ptzGotoPresetPoint
    std::string activeCruise;            // empty when no cruise runs
    int snapshots = 0;
};

using CgiParams = std::map<std::string, std::string>;

struct CgiLogEntry {
    std::string command;
    CgiParams params; // every query parameter, decoded, including usr and pwd
    int result = 0;
};

// The camera's settings as its CGI commands see them. Each command runs under one lock, so
// concurrent requests see each other's effects whole. Answers are the camera's XML documents:
// <CGI_Result><result>N</result> then the command's fields.
class CgiModel {
public:
    // Values of <result>.
    static constexpr int kOk = 0;
    static constexpr int kUnknownCommand = -1;
    static constexpr int kBadParameter = -2; // missing, not a number, or out of range
    static constexpr int kRefused = -3;      // unknown or duplicate name, list full
    static constexpr int kWrongLogin = -8;

    static constexpr size_t kMaxPresets = 16;
    static constexpr size_t kMaxCruiseMaps = 8;
    static constexpr size_t kMaxNameLength = 31; // names travel in 32-byte fields
    static constexpr size_t kMaxLogEntries = 4096;

    // Produces a snapshot and returns its path relative to the web root ("snapPic/...jpg"), or
    // an empty string on failure. Called without the model's lock held.
    using SnapshotTaker = std::function<std::string()>;

    CgiModel(std::string user, std::string password, std::string ipAddress);

    void setSnapshotTaker(SnapshotTaker taker);
    // Runs one request (all decoded query parameters) and returns the XML answer. With
    // `refuseLogins` every request is answered as if the password were wrong.
    std::string execute(const CgiParams& query, bool refuseLogins);

    CgiState state() const;
    std::vector<CgiLogEntry> log() const;

private:
    int run(const std::string& command, const CgiParams& query, std::string& fields);
    void record(const std::string& command, const CgiParams& query, int result);

    const std::string m_user;
    const std::string m_password;
    const std::string m_ipAddress;
    SnapshotTaker m_snapshotTaker; // set before the camera serves requests

    mutable std::mutex m_lock;
    CgiState m_state;               // guarded by m_lock
    std::vector<CgiLogEntry> m_log; // guarded by m_lock, oldest first, bounded
};

} // namespace camsim
