#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zqprobe {

struct CommandStep {
    int command = 0;
    intptr_t param1 = 0;
    intptr_t param2 = 0;
    std::string text; // for commands that take a name (45, 48, 49, 50)
};

struct ProbeOptions {
    std::string host = "127.0.0.1";
    int port = 18600;
    int webPort = 18680;
    std::string user = "admin";
    std::string password = "admin";
    int streamType = 0;
    bool udt = false;
    std::string uid; // reach the camera by UID through the relay instead of by address
    bool reconnect = true;
    bool listen = false;
    int seconds = 10;
    std::string playFile;              // camera-side record to play instead of live
    double seekPercent = -1;           // seek there after two seconds of playback
    std::vector<CommandStep> commands; // sent once the media channel logs in
    std::vector<std::string> cgi;      // CGI commands sent directly, answers printed
};

// Parses the command line; prints the problem (or the help) and returns nullopt on error.
std::optional<ProbeOptions> parseOptions(int argc, char** argv);

} // namespace zqprobe
