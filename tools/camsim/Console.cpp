#include "Console.h"

#include "CameraControls.h"

#include "iotc/Relay.h"

#include <sstream>

namespace camsim {

namespace {

constexpr const char* kHelp =
    "commands (applied to every camera):\n"
    "  alarm [state] [seconds]   send alarm notice 111 (default: state 1, 10 s)\n"
    "  motion [state]            send motion notice 102 (default 1)\n"
    "  drop                      close every open connection\n"
    "  stall [seconds]           stop sending media (no number: until 'stall 0')\n"
    "  garbage on|off            junk bytes before every packet\n"
    "  bytes on|off              send packets one byte at a time\n"
    "  refuse on|off             answer every login as a wrong password\n"
    "  httpdelay <ms>            delay every HTTP answer\n"
    "  stats                     counters of each camera\n"
    "  quit                      stop and exit\n";

constexpr const char* kRelayHelp =
    "relay commands:\n"
    "  stats                     registered cameras, forwarding sessions, refusals, bytes\n"
    "  drop                      cut every forwarding session (registrations stay)\n"
    "  quit                      stop and exit\n";

bool parseSwitch(std::istringstream& words, bool& on) {
    std::string word;
    words >> word;
    on = word == "on" || word == "1";
    return on || word == "off" || word == "0";
}

std::string describe(size_t index, const CameraStats& s) {
    std::ostringstream out;
    out << "camera " << index << ": connections " << s.connections << " (open "
        << s.activeConnections << "), logins control " << s.controlLogins << " live "
        << s.liveLogins << " playback " << s.playbackLogins << " refused " << s.rejectedLogins
        << ", keep-alives " << s.keepAlives << ", http " << s.httpRequests << ", text commands "
        << s.textCommands << ", talk " << s.talkPackets << " (rejected " << s.talkRejects
        << "), protocol errors " << s.protocolErrors << "\n";
    return out.str();
}

} // namespace

std::string runConsoleCommand(const std::string& line, const std::vector<CameraControls*>& cameras,
                              bool& quit) {
    std::istringstream words(line);
    std::string command;
    if (!(words >> command)) {
        return {};
    }
    if (command == "help" || command == "?") {
        return kHelp;
    }
    if (command == "quit" || command == "exit") {
        quit = true;
        return "stopping\n";
    }
    if (command == "alarm") {
        AlarmNotice alarm;
        int state = 1;
        int seconds = 10;
        words >> state >> seconds;
        alarm.state = static_cast<uint8_t>(state);
        alarm.durationSeconds = static_cast<uint8_t>(seconds);
        size_t sent = 0;
        for (CameraControls* camera : cameras) {
            sent += camera->sendAlarm(alarm);
        }
        return "alarm sent to " + std::to_string(sent) + " control connection(s)\n";
    }
    if (command == "motion") {
        int state = 1;
        words >> state;
        size_t sent = 0;
        for (CameraControls* camera : cameras) {
            sent += camera->sendMotion(state);
        }
        return "motion sent to " + std::to_string(sent) + " control connection(s)\n";
    }
    if (command == "drop") {
        for (CameraControls* camera : cameras) {
            camera->dropConnections();
        }
        return "connections dropped\n";
    }
    if (command == "stall") {
        int seconds = -1;
        words >> seconds;
        for (CameraControls* camera : cameras) {
            if (seconds < 0) {
                camera->setStalled(true);
            } else {
                camera->stallFor(static_cast<uint32_t>(seconds) * 1000);
            }
        }
        return seconds < 0 ? "stalled until 'stall 0'\n"
                           : "stalled for " + std::to_string(seconds) + " s\n";
    }
    if (command == "garbage" || command == "bytes" || command == "refuse") {
        bool on = false;
        if (!parseSwitch(words, on)) {
            return "usage: " + command + " on|off\n";
        }
        for (CameraControls* camera : cameras) {
            if (command == "garbage") {
                camera->setGarbage(on);
            } else if (command == "bytes") {
                camera->setByteByByte(on);
            } else {
                camera->setRefuseLogins(on);
            }
        }
        return command + (on ? " on\n" : " off\n");
    }
    if (command == "httpdelay") {
        int ms = -1;
        if (!(words >> ms) || ms < 0) {
            return "usage: httpdelay <ms>\n";
        }
        for (CameraControls* camera : cameras) {
            camera->setHttpDelayMs(static_cast<uint32_t>(ms));
        }
        return "http answers delayed by " + std::to_string(ms) + " ms\n";
    }
    if (command == "stats") {
        std::string out;
        for (size_t i = 0; i < cameras.size(); ++i) {
            out += describe(i, cameras[i]->stats());
        }
        return out;
    }
    return "unknown command '" + command + "' (try 'help')\n";
}

std::string runRelayConsoleCommand(const std::string& line, iotc::Relay& relay, bool& quit) {
    std::istringstream words(line);
    std::string command;
    if (!(words >> command)) {
        return {};
    }
    if (command == "help" || command == "?") {
        return kRelayHelp;
    }
    if (command == "quit" || command == "exit") {
        quit = true;
        return "stopping\n";
    }
    if (command == "drop") {
        relay.dropSessions();
        return "sessions dropped\n";
    }
    if (command == "stats") {
        const iotc::RelayStats s = relay.stats();
        std::ostringstream out;
        out << "relay: cameras " << s.devices << ", sessions " << s.sessions << ", refused "
            << s.refused << ", bytes forwarded " << s.bytesForwarded << "\n";
        return out.str();
    }
    return "unknown command '" + command + "' (try 'help')\n";
}

} // namespace camsim
