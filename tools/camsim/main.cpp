// camsim: simulated network cameras for trying the client by hand and for integration tests.

#include "Console.h"
#include "H264Camera.h"
#include "MjpegCamera.h"
#include "SearchResponder.h"
#include "StreamLibrary.h"

extern "C" {
#include <libavutil/log.h>
}

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: camsim <kind> [options]\n"
    "kinds:\n"
    "  h264      H.264 camera: control and media over TCP and UDT on one port, CGI over HTTP\n"
    "  mjpeg     MJPEG camera: \"MO_O\"/\"MO_V\" over TCP, classic CGI scripts on the web port\n"
    "  search    answers LAN search broadcasts (UDP port 10000) for N cameras\n"
    "run 'camsim <kind> --help' for its options\n";

constexpr const char* kH264Usage =
    "usage: camsim h264 [options]\n"
    "  --port P          control/media port (TCP and UDT); 0 picks one (default 8800)\n"
    "  --web-port W      CGI port (default 8880); ignored with --one-port\n"
    "  --one-port        serve CGI on the media port too\n"
    "  --count N         N cameras on consecutive ports (default 1)\n"
    "  --user U          user name (default admin)\n"
    "  --password X      password (default admin)\n"
    "  --listen ADDR     listen address (default 0.0.0.0)\n"
    "  --record-ms MS    length of every playback record (default 600000)\n"
    "  --no-udt          TCP only\n"
    "  --quiet           do not print events\n"
    "The console (standard input) takes commands; type 'help'. SIGINT or SIGTERM stops.\n";

constexpr const char* kSearchUsage =
    "usage: camsim search [options]\n"
    "  --listen ADDR     bind address (default 0.0.0.0; broadcasts reach wildcard sockets only)\n"
    "  --port P          UDP port (default 10000)\n"
    "  --format F        reply format: moi (\"MO_I\" packet) or record (0x4D709AB4 packet)\n"
    "  --count N         N cameras answering (default 1)\n"
    "  --mac PREFIX      MAC text prefix, camera index appended as 2 hex digits (default "
    "00CA5E5E00)\n"
    "  --name NAME       camera name prefix, \"-<index>\" appended (default camsim)\n"
    "  --address A       address of camera 0; later cameras count up (default 10.0.0.100)\n"
    "  --flag F          0 MJPEG, 1 H.264, 2 H.264 with identifier (default 1)\n"
    "  --uid PREFIX      identifier prefix for flag 2, index appended (default VSTR-000000-SIM)\n"
    "  --media-port M    media port (default 8800)\n"
    "  --web-port W      web port (default 8880)\n"
    "  --split N         cut every reply into N datagrams (default 1)\n"
    "  --batch           several replies per datagram (as many as fit in 200 bytes)\n"
    "  --quiet           do not print requests\n"
    "Prints \"search responder: port P, N cameras\" once bound. SIGINT or SIGTERM stops.\n";

std::atomic<bool> g_interrupted{false};

void onSignal(int) {
    g_interrupted = true;
}

bool parsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

int runH264(int argc, char** argv) {
    camsim::CameraConfig base;
    base.port = 8800;
    base.webPort = 8880;
    long count = 1;
    bool quiet = false;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--help" || option == "-h") {
            std::fputs(kH264Usage, stdout);
            return 0;
        } else if (option == "--one-port") {
            base.onePort = true;
        } else if (option == "--no-udt") {
            base.udt = false;
        } else if (option == "--quiet") {
            quiet = true;
        } else if (option == "--port" && hasValue && parsePort(argv[i + 1], base.port)) {
            ++i;
        } else if (option == "--web-port" && hasValue && parsePort(argv[i + 1], base.webPort)) {
            ++i;
        } else if (option == "--count" && hasValue) {
            count = std::strtol(argv[++i], nullptr, 10);
        } else if (option == "--user" && hasValue) {
            base.user = argv[++i];
        } else if (option == "--password" && hasValue) {
            base.password = argv[++i];
        } else if (option == "--listen" && hasValue) {
            base.listenAddress = argv[++i];
        } else if (option == "--record-ms" && hasValue) {
            base.recordDurationMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "camsim h264: bad option '%s'\n%s", option.c_str(), kH264Usage);
            return 2;
        }
    }
    if (count < 1 || count > 64) {
        std::fprintf(stderr, "camsim h264: --count must be 1..64\n");
        return 2;
    }

    std::fputs("encoding the test streams...\n", stdout);
    std::fflush(stdout);
    std::string error;
    if (!camsim::StreamLibrary::shared(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    auto printLock = std::make_shared<std::mutex>();
    std::vector<std::unique_ptr<camsim::H264Camera>> cameras;
    std::vector<camsim::H264Camera*> handles;
    for (long i = 0; i < count; ++i) {
        camsim::CameraConfig config = base;
        config.name = "camsim-" + std::to_string(i);
        if (base.port != 0) {
            config.port = static_cast<uint16_t>(base.port + i);
        }
        if (base.webPort != 0) {
            config.webPort = static_cast<uint16_t>(base.webPort + i);
        }
        if (!quiet) {
            config.eventSink = [printLock, i](const std::string& line) {
                const std::lock_guard<std::mutex> guard(*printLock);
                std::printf("[cam %ld] %s\n", i, line.c_str());
                std::fflush(stdout);
            };
        }
        auto camera = std::make_unique<camsim::H264Camera>();
        const auto ports = camera->start(config);
        if (!ports) {
            std::fprintf(stderr, "camsim: camera %ld: %s\n", i, camera->lastError().c_str());
            return 1;
        }
        {
            const std::lock_guard<std::mutex> guard(*printLock);
            std::printf("camera %ld: port %u, web port %u, user \"%s\"\n", i, ports->port,
                        ports->webPort, config.user.c_str());
            std::fflush(stdout);
        }
        handles.push_back(camera.get());
        cameras.push_back(std::move(camera));
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    bool quit = false;
    bool console = true;
    std::string line;
    while (!quit && !g_interrupted) {
        if (!console) {
            ::usleep(200 * 1000);
            continue;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 200) <= 0) {
            continue;
        }
        if (!std::getline(std::cin, line)) {
            console = false; // standard input closed: run until a signal
            continue;
        }
        const std::string reply = camsim::runConsoleCommand(line, handles, quit);
        const std::lock_guard<std::mutex> guard(*printLock);
        std::fputs(reply.c_str(), stdout);
        std::fflush(stdout);
    }
    for (auto& camera : cameras) {
        camera->stop();
    }
    return 0;
}

int runSearch(int argc, char** argv) {
    camsim::SearchResponderConfig config;
    camsim::SearchCamera base;
    std::string macPrefix = "00CA5E5E00";
    std::string namePrefix = "camsim";
    std::string uidPrefix = "VSTR-000000-SIM";
    std::string firstAddress = "10.0.0.100";
    long count = 1;
    long parts = 1;
    bool quiet = false;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--help" || option == "-h") {
            std::fputs(kSearchUsage, stdout);
            return 0;
        } else if (option == "--batch") {
            config.batch = true;
        } else if (option == "--quiet") {
            quiet = true;
        } else if (option == "--port" && hasValue && parsePort(argv[i + 1], config.port)) {
            ++i;
        } else if (option == "--media-port" && hasValue && parsePort(argv[i + 1], base.mediaPort)) {
            ++i;
        } else if (option == "--web-port" && hasValue && parsePort(argv[i + 1], base.webPort)) {
            ++i;
        } else if (option == "--listen" && hasValue) {
            config.listenAddress = argv[++i];
        } else if (option == "--format" && hasValue &&
                   (std::strcmp(argv[i + 1], "moi") == 0 ||
                    std::strcmp(argv[i + 1], "record") == 0)) {
            config.format = std::strcmp(argv[++i], "moi") == 0 ? camsim::SearchReplyFormat::Moi
                                                               : camsim::SearchReplyFormat::Record;
        } else if (option == "--count" && hasValue) {
            count = std::strtol(argv[++i], nullptr, 10);
        } else if (option == "--split" && hasValue) {
            parts = std::strtol(argv[++i], nullptr, 10);
        } else if (option == "--flag" && hasValue) {
            base.flag = static_cast<uint8_t>(std::strtol(argv[++i], nullptr, 10));
        } else if (option == "--mac" && hasValue) {
            macPrefix = argv[++i];
        } else if (option == "--name" && hasValue) {
            namePrefix = argv[++i];
        } else if (option == "--uid" && hasValue) {
            uidPrefix = argv[++i];
        } else if (option == "--address" && hasValue) {
            firstAddress = argv[++i];
        } else {
            std::fprintf(stderr, "camsim search: bad option '%s'\n%s", option.c_str(),
                         kSearchUsage);
            return 2;
        }
    }
    in_addr first{};
    if (count < 1 || count > 64 || parts < 1 || parts > 64 || base.flag > 2 ||
        ::inet_pton(AF_INET, firstAddress.c_str(), &first) != 1) {
        std::fprintf(stderr, "camsim search: --count and --split 1..64, --flag 0..2, --address "
                             "a dotted IPv4 address\n");
        return 2;
    }
    config.parts = static_cast<size_t>(parts);
    config.cameras.clear();
    for (long i = 0; i < count; ++i) {
        camsim::SearchCamera camera = base;
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%02lX", i);
        camera.mac = macPrefix + suffix;
        camera.name = namePrefix + "-" + std::to_string(i);
        if (camera.flag == 2) {
            camera.uid = uidPrefix + std::to_string(i);
        }
        in_addr address{};
        address.s_addr = htonl(ntohl(first.s_addr) + static_cast<uint32_t>(i));
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        camera.address = text;
        config.cameras.push_back(camera);
    }
    if (!quiet) {
        config.eventSink = [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };
    }
    camsim::SearchResponder responder;
    const auto port = responder.start(config);
    if (!port) {
        std::fprintf(stderr, "camsim search: %s\n", responder.lastError().c_str());
        return 1;
    }
    std::printf("search responder: port %u, %ld cameras\n", *port, count);
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_interrupted) {
        ::usleep(50 * 1000);
    }
    responder.stop();
    return 0;
}

constexpr const char* kMjpegUsage =
    "usage: camsim mjpeg [--port P] [--web-port W] [--user U] [--password X] [--listen ADDR]\n"
    "                    [--old-params] [--quiet]\n"
    "  --old-params      answer \"File not found.\" to get_camera_params.cgi\n"
    "SIGINT or SIGTERM stops.\n";

int runMjpeg(int argc, char** argv) {
    camsim::MjpegCameraConfig config;
    config.port = 8801;
    config.webPort = 8881;
    bool quiet = false;
    bool oldParams = false;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--help" || option == "-h") {
            std::fputs(kMjpegUsage, stdout);
            return 0;
        } else if (option == "--quiet") {
            quiet = true;
        } else if (option == "--old-params") {
            oldParams = true;
        } else if (option == "--port" && hasValue && parsePort(argv[i + 1], config.port)) {
            ++i;
        } else if (option == "--web-port" && hasValue && parsePort(argv[i + 1], config.webPort)) {
            ++i;
        } else if (option == "--user" && hasValue) {
            config.user = argv[++i];
        } else if (option == "--password" && hasValue) {
            config.password = argv[++i];
        } else if (option == "--listen" && hasValue) {
            config.listenAddress = argv[++i];
        } else {
            std::fprintf(stderr, "camsim mjpeg: bad option '%s'\n%s", option.c_str(), kMjpegUsage);
            return 2;
        }
    }
    if (!quiet) {
        config.eventSink = [](const std::string& line) {
            std::printf("[mjpeg] %s\n", line.c_str());
            std::fflush(stdout);
        };
    }
    camsim::MjpegCamera camera;
    const auto ports = camera.start(config);
    if (!ports) {
        std::fprintf(stderr, "camsim: %s\n", camera.lastError().c_str());
        return 1;
    }
    camera.setFirstParamFormMissing(oldParams);
    std::printf("MJPEG camera: port %u, web port %u, user \"%s\"\n", ports->port, ports->webPort,
                config.user.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_interrupted)
        ::usleep(200 * 1000);
    camera.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "h264") == 0) {
        return runH264(argc - 2, argv + 2);
    }
    if (std::strcmp(argv[1], "mjpeg") == 0) {
        return runMjpeg(argc - 2, argv + 2);
    }
    if (std::strcmp(argv[1], "search") == 0) {
        return runSearch(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "camsim: unknown kind '%s'\n%s", argv[1], kUsage);
    return 2;
}
