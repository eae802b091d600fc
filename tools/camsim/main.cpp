// camsim: simulated network cameras for trying the client by hand and for integration tests.

#include "Console.h"
#include "H264Camera.h"
#include "StreamLibrary.h"

extern "C" {
#include <libavutil/log.h>
}

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
    "run 'camsim h264 --help' for its options\n";

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
    std::fprintf(stderr, "camsim: unknown kind '%s'\n%s", argv[1], kUsage);
    return 2;
}
