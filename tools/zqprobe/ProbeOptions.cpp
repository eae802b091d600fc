#include "ProbeOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zqprobe {

namespace {

void printHelp() {
    std::puts(
        "zqprobe: open one H.264 camera through libzqnet and print what arrives every second\n"
        "\n"
        "  --host ADDRESS        camera address (127.0.0.1)\n"
        "  --port N              control and media port (18600)\n"
        "  --web-port N          CGI port (18680; the same as --port for one-port cameras)\n"
        "  --user NAME --password TEXT   credentials (admin/admin)\n"
        "  --stream N            0 main stream, 1 sub stream (0)\n"
        "  --udt                 use UDT instead of TCP\n"
        "  --uid UID             reach the camera by UID through the relay named by\n"
        "                        VISTARO_P2P_RELAY (host[:port], loopback by default)\n"
        "  --no-reconnect        end instead of reconnecting when the stream is lost\n"
        "  --listen              ask for the camera's sound\n"
        "  --seconds N           how long to watch (10)\n"
        "  --play KIND:PATH      play a camera-side record, e.g. 0:/records/cam/a.avi\n"
        "  --seek PERCENT        during --play, seek after two seconds\n"
        "  --command C[:P1[:P2]] send zq_net_setcommand code C once logged in (repeatable);\n"
        "                        for 45/48/49/50 P1 is the name, e.g. --command 50:door\n"
        "  --cgi TEXT            send one CGI command and print the answer (repeatable),\n"
        "                        e.g. --cgi getImageSetting --cgi 'setHue&hue=3'\n");
}

bool toInt(const char* text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || value < -2147483647L || value > 2147483647L)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool parseCommand(const char* text, CommandStep& step) {
    const std::string given(text);
    const size_t first = given.find(':');
    if (!toInt(given.substr(0, first).c_str(), step.command))
        return false;
    if (first == std::string::npos)
        return true;
    const size_t second = given.find(':', first + 1);
    const std::string p1 = given.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const bool takesName = step.command == 45 || (step.command >= 48 && step.command <= 50);
    int value = 0;
    if (takesName) {
        step.text = p1;
    } else if (!toInt(p1.c_str(), value)) {
        return false;
    } else {
        step.param1 = value;
    }
    if (second != std::string::npos) {
        if (!toInt(given.substr(second + 1).c_str(), value))
            return false;
        step.param2 = value;
    }
    return true;
}

} // namespace

std::optional<ProbeOptions> parseOptions(int argc, char** argv) {
    ProbeOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() -> const char* {
            if (!value)
                std::fprintf(stderr, "zqprobe: %s needs a value\n", argv[i]);
            else
                ++i;
            return value;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            printHelp();
            return std::nullopt;
        } else if (arg == "--udt") {
            options.udt = true;
        } else if (arg == "--uid") {
            ok = needValue() && (options.uid = value, true);
        } else if (arg == "--no-reconnect") {
            options.reconnect = false;
        } else if (arg == "--listen") {
            options.listen = true;
        } else if (arg == "--host") {
            ok = needValue() && (options.host = value, true);
        } else if (arg == "--user") {
            ok = needValue() && (options.user = value, true);
        } else if (arg == "--password") {
            ok = needValue() && (options.password = value, true);
        } else if (arg == "--play") {
            ok = needValue() && (options.playFile = value, true);
        } else if (arg == "--cgi") {
            ok = needValue() && (options.cgi.emplace_back(value), true);
        } else if (arg == "--port") {
            ok = needValue() && toInt(value, options.port);
        } else if (arg == "--web-port") {
            ok = needValue() && toInt(value, options.webPort);
        } else if (arg == "--stream") {
            ok = needValue() && toInt(value, options.streamType);
        } else if (arg == "--seconds") {
            ok = needValue() && toInt(value, options.seconds);
        } else if (arg == "--seek") {
            ok = needValue() && (options.seekPercent = std::atof(value), true);
        } else if (arg == "--command") {
            CommandStep step;
            ok = needValue() && parseCommand(value, step);
            if (ok)
                options.commands.push_back(step);
        } else {
            std::fprintf(stderr, "zqprobe: unknown option %s (see --help)\n", argv[i]);
            return std::nullopt;
        }
        if (!ok) {
            std::fprintf(stderr, "zqprobe: bad value for %s\n", std::string(arg).c_str());
            return std::nullopt;
        }
    }
    if (options.port <= 0 || options.port > 65535 || options.webPort <= 0 ||
        options.webPort > 65535) {
        std::fprintf(stderr, "zqprobe: ports must be 1..65535\n");
        return std::nullopt;
    }
    return options;
}

} // namespace zqprobe
