// camsim: simulated network cameras for trying the client by hand and for integration tests.

#include "CommandLine.h"
#include "Console.h"
#include "EventSink.h"
#include "H264Camera.h"
#include "MjpegCamera.h"
#include "P2pCamera.h"
#include "SdkCamera.h"
#include "SearchResponder.h"
#include "StreamLibrary.h"

#include "iotc/Relay.h"
#include "iotc/iotc.h"

extern "C" {
#include <libavutil/log.h>
}

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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
    "  relay     peer-to-peer relay that cameras register their UIDs with\n"
    "  p2p       H.264 camera reached by UID through a relay (control and media channels)\n"
    "  sdkcam    camera of the SDK family: search and set-up on UDP, management and monitor\n"
    "            sessions (\"MO_M\", \"MO_O\"/\"MO_V\") on one TCP port\n"
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

constexpr const char* kRelayUsage =
    "usage: camsim relay [--listen ADDR] [--port P]\n"
    "  --listen ADDR     bind address (default 127.0.0.1)\n"
    "  --port P          port (default 32761); 0 picks one\n"
    "Prints \"relay: listening on ADDR:PORT\" once bound. The console (standard input) takes\n"
    "'stats', 'drop', 'quit' and 'help'. SIGINT or SIGTERM stops.\n";

constexpr const char* kP2pUsage =
    "usage: camsim p2p [options]\n"
    "  --relay HOST:PORT relay to register with (default 127.0.0.1:32761)\n"
    "  --uid UID         camera UID (default VSTRSIMP2P0000000001); with --count above 1 its\n"
    "                    first 16 characters and a 4-digit index (0001, 0002...) make each UID\n"
    "  --count N         N cameras (default 1)\n"
    "  --user U          user name (default admin)\n"
    "  --password X      password (default admin)\n"
    "  --with-relay      also run a relay in this process, bound to the relay address\n"
    "  --quiet           do not print events\n"
    "The console (standard input) takes commands; type 'help'. SIGINT or SIGTERM stops.\n";

std::atomic<bool> g_interrupted{false};

void onSignal(int) {
    g_interrupted = true;
}

// Runs until SIGINT or SIGTERM: for the simulators without a console.
void waitForSignal() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_interrupted)
        ::usleep(50 * 1000);
}

// Event lines of a single simulator, with `prefix` in front (empty: none).
camsim::EventSink linePrinter(std::string prefix) {
    return [prefix = std::move(prefix)](const std::string& line) {
        std::printf("%s%s\n", prefix.c_str(), line.c_str());
        std::fflush(stdout);
    };
}

bool parsePort(const char* text, uint16_t& port) {
    long long value = 0;
    if (!camsim::parseInteger(text, 0, 65535, value))
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

using ConsoleHandler = std::function<std::string(const std::string& line, bool& quit)>;

// Reads console commands from standard input until "quit", SIGINT or SIGTERM. When standard
// input closes (a script started the simulator), it keeps running until a signal.
void runConsole(std::mutex& printLock, const ConsoleHandler& handle) {
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
            console = false;
            continue;
        }
        const std::string reply = handle(line, quit);
        const std::lock_guard<std::mutex> guard(printLock);
        std::fputs(reply.c_str(), stdout);
        std::fflush(stdout);
    }
}

// Encodes the process's test streams once, before any camera serves them.
bool prepareStreams() {
    std::fputs("encoding the test streams...\n", stdout);
    std::fflush(stdout);
    std::string error;
    if (!camsim::StreamLibrary::shared(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return false;
    }
    return true;
}

// Event lines of camera `index`, prefixed with its label, printed whole under the shared lock.
std::function<void(const std::string&)> eventPrinter(std::shared_ptr<std::mutex> printLock,
                                                     const char* label, long index) {
    return [printLock, label, index](const std::string& line) {
        const std::lock_guard<std::mutex> guard(*printLock);
        std::printf("[%s %ld] %s\n", label, index, line.c_str());
        std::fflush(stdout);
    };
}

// Serves the console until "quit" or end of input, then stops every camera.
template <typename Camera>
void serveUntilQuit(std::mutex& printLock, std::vector<std::unique_ptr<Camera>>& cameras) {
    std::vector<camsim::CameraControls*> handles;
    for (auto& camera : cameras)
        handles.push_back(camera.get());
    runConsole(printLock, [&handles](const std::string& line, bool& quit) {
        return camsim::runConsoleCommand(line, handles, quit);
    });
    for (auto& camera : cameras)
        camera->stop();
}

int runH264(int argc, char** argv) {
    camsim::CameraConfig base;
    base.port = 8800;
    base.webPort = 8880;
    long count = 1;
    bool quiet = false;
    const auto exit = camsim::CommandLine("h264", kH264Usage)
                          .flag("--one-port", base.onePort)
                          .flag("--no-udt", [&base] { base.udt = false; })
                          .flag("--quiet", quiet)
                          .number("--port", base.port)
                          .number("--web-port", base.webPort)
                          .number("--count", count)
                          .text("--user", base.user)
                          .text("--password", base.password)
                          .text("--listen", base.listenAddress)
                          .number("--record-ms", base.recordDurationMs)
                          .parse(argc, argv);
    if (exit)
        return *exit;
    if (count < 1 || count > 64) {
        std::fprintf(stderr, "camsim h264: --count must be 1..64\n");
        return 2;
    }

    if (!prepareStreams())
        return 1;
    auto printLock = std::make_shared<std::mutex>();
    std::vector<std::unique_ptr<camsim::H264Camera>> cameras;
    for (long i = 0; i < count; ++i) {
        camsim::CameraConfig config = base;
        config.name = "camsim-" + std::to_string(i);
        if (base.port != 0) {
            config.port = static_cast<uint16_t>(base.port + i);
        }
        if (base.webPort != 0) {
            config.webPort = static_cast<uint16_t>(base.webPort + i);
        }
        if (!quiet)
            config.eventSink = eventPrinter(printLock, "cam", i);
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
        cameras.push_back(std::move(camera));
    }
    serveUntilQuit(*printLock, cameras);
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
    const auto takeFormat = [&config](const char* text) {
        const std::string format = text;
        if (format != "moi" && format != "record")
            return false;
        config.format = format == "moi" ? camsim::SearchReplyFormat::Moi
                                        : camsim::SearchReplyFormat::Record;
        return true;
    };
    const auto exit = camsim::CommandLine("search", kSearchUsage)
                          .flag("--batch", config.batch)
                          .flag("--quiet", quiet)
                          .number("--port", config.port)
                          .number("--media-port", base.mediaPort)
                          .number("--web-port", base.webPort)
                          .text("--listen", config.listenAddress)
                          .value("--format", takeFormat)
                          .number("--count", count)
                          .number("--split", parts)
                          .number("--flag", base.flag)
                          .text("--mac", macPrefix)
                          .text("--name", namePrefix)
                          .text("--uid", uidPrefix)
                          .text("--address", firstAddress)
                          .parse(argc, argv);
    if (exit)
        return *exit;
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
        char suffix[24];
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
    if (!quiet)
        config.eventSink = linePrinter("");
    camsim::SearchResponder responder;
    const auto port = responder.start(config);
    if (!port) {
        std::fprintf(stderr, "camsim search: %s\n", responder.lastError().c_str());
        return 1;
    }
    std::printf("search responder: port %u, %ld cameras\n", *port, count);
    std::fflush(stdout);
    waitForSignal();
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
    const auto exit = camsim::CommandLine("mjpeg", kMjpegUsage)
                          .flag("--quiet", quiet)
                          .flag("--old-params", oldParams)
                          .number("--port", config.port)
                          .number("--web-port", config.webPort)
                          .text("--user", config.user)
                          .text("--password", config.password)
                          .text("--listen", config.listenAddress)
                          .parse(argc, argv);
    if (exit)
        return *exit;
    if (!quiet)
        config.eventSink = linePrinter("[mjpeg] ");
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
    waitForSignal();
    camera.stop();
    return 0;
}

constexpr const char* kSdkUsage =
    "usage: camsim sdkcam [options]\n"
    "  --port P          management and monitor sessions (TCP); 0 picks one (default 8090)\n"
    "  --search-port S   search and set-up (UDP; default 10000); 0 picks one\n"
    "  --listen ADDR     listen address (default 0.0.0.0; broadcasts reach wildcard sockets only)\n"
    "  --id ID           camera id, 12 characters (default 00A1B2C3D4E5)\n"
    "  --name NAME       camera name (default camsim-sdk)\n"
    "  --user U          user name (default admin)\n"
    "  --password X      password (default admin)\n"
    "  --address A       address the camera reports (default 127.0.0.1)\n"
    "  --fps N           pictures per second (default 10)\n"
    "  --scramble        every payload sent scrambled\n"
    "  --shuffle         frames sent in swapped pairs (time stamps out of order)\n"
    "  --ignore-logins N leave the first N video logins unanswered\n"
    "  --quiet           do not print events\n"
    "SIGINT or SIGTERM stops.\n";

int runSdkCamera(int argc, char** argv) {
    camsim::SdkCameraConfig config;
    config.port = 8090;
    bool quiet = false;
    std::string address = "127.0.0.1";
    const auto exit = camsim::CommandLine("sdkcam", kSdkUsage)
                          .flag("--quiet", quiet)
                          .flag("--scramble", config.scramble)
                          .flag("--shuffle", config.shuffleStamps)
                          .number("--port", config.port)
                          .number("--search-port", config.searchPort)
                          .text("--listen", config.listenAddress)
                          .text("--id", config.id)
                          .text("--name", config.name)
                          .text("--user", config.user)
                          .text("--password", config.password)
                          .text("--address", address)
                          .number("--fps", config.framesPerSecond)
                          .number("--ignore-logins", config.ignoredVideoLogins)
                          .parse(argc, argv);
    if (exit)
        return *exit;
    in_addr reported{};
    if (config.id.size() != 12 || config.framesPerSecond < 1 || config.framesPerSecond > 30 ||
        ::inet_pton(AF_INET, address.c_str(), &reported) != 1) {
        std::fprintf(stderr, "camsim sdkcam: --id has 12 characters, --fps 1..30, --address a "
                             "dotted IPv4 address\n");
        return 2;
    }
    config.address = ntohl(reported.s_addr);
    config.gateway = config.address;
    config.dns = config.address;
    if (!quiet)
        config.eventSink = linePrinter("[sdkcam] ");
    camsim::SdkCamera camera;
    const auto ports = camera.start(config);
    if (!ports) {
        std::fprintf(stderr, "camsim sdkcam: %s\n", camera.lastError().c_str());
        return 1;
    }
    std::printf("SDK camera %s: port %u, search port %u, user \"%s\"\n", config.id.c_str(),
                ports->port, ports->searchPort, config.user.c_str());
    std::fflush(stdout);
    waitForSignal();
    camera.stop();
    return 0;
}

// "host[:port]" with the relay's default port when none is given.
bool parseRelay(const std::string& text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    host = text.substr(0, colon);
    port = kIotcDefaultRelayPort;
    return !host.empty() &&
           (colon == std::string::npos || parsePort(text.c_str() + colon + 1, port));
}

// One camera keeps the UID as given; several share its first 16 characters and count up from
// 0001, so every UID has the usual 20 characters.
std::string cameraUid(const std::string& uid, long index, long count) {
    if (count == 1) {
        return uid;
    }
    std::string prefix = uid.substr(0, 16);
    prefix.resize(16, '0');
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04ld", index + 1);
    return prefix + digits;
}

// Starts `relay` on host:port; prints and returns the bound port, 0 on failure.
uint16_t startRelay(iotc::Relay& relay, const std::string& host, uint16_t port) {
    const auto bound = relay.start(host, port);
    if (!bound) {
        std::fprintf(stderr, "camsim relay: cannot listen on %s:%u\n", host.c_str(), port);
        return 0;
    }
    std::printf("relay: listening on %s:%u\n", host.c_str(), *bound);
    std::fflush(stdout);
    return *bound;
}

int runRelay(int argc, char** argv) {
    std::string host = "127.0.0.1";
    uint16_t port = kIotcDefaultRelayPort;
    const auto exit = camsim::CommandLine("relay", kRelayUsage)
                          .text("--listen", host)
                          .number("--port", port)
                          .parse(argc, argv);
    if (exit)
        return *exit;
    iotc::Relay relay;
    if (startRelay(relay, host, port) == 0) {
        return 1;
    }
    std::mutex printLock;
    runConsole(printLock, [&relay](const std::string& line, bool& quit) {
        return camsim::runRelayConsoleCommand(line, relay, quit);
    });
    relay.stop();
    return 0;
}

int runP2p(int argc, char** argv) {
    camsim::CameraConfig base;
    std::string relayText = "127.0.0.1";
    std::string uid = "VSTRSIMP2P0000000001";
    long count = 1;
    bool quiet = false;
    bool withRelay = false;
    const auto exit = camsim::CommandLine("p2p", kP2pUsage)
                          .flag("--quiet", quiet)
                          .flag("--with-relay", withRelay)
                          .text("--relay", relayText)
                          .text("--uid", uid)
                          .number("--count", count)
                          .text("--user", base.user)
                          .text("--password", base.password)
                          .parse(argc, argv);
    if (exit)
        return *exit;
    std::string relayHost;
    uint16_t relayPort = 0;
    if (count < 1 || count > 64 || !parseRelay(relayText, relayHost, relayPort) ||
        !camsim::P2pCamera::validUid(uid)) {
        std::fprintf(stderr, "camsim p2p: --count must be 1..64, --relay HOST[:PORT], --uid 1-64 "
                             "printable characters without spaces\n");
        return 2;
    }

    iotc::Relay relay;
    if (withRelay && (relayPort = startRelay(relay, relayHost, relayPort)) == 0) {
        return 1;
    }
    const std::string relayAddress = relayHost + ":" + std::to_string(relayPort);
    if (!prepareStreams())
        return 1;
    auto printLock = std::make_shared<std::mutex>();
    std::vector<std::unique_ptr<camsim::P2pCamera>> cameras;
    for (long i = 0; i < count; ++i) {
        camsim::CameraConfig config = base;
        config.name = "camsim-p2p-" + std::to_string(i);
        if (!quiet)
            config.eventSink = eventPrinter(printLock, "p2p", i);
        auto camera = std::make_unique<camsim::P2pCamera>();
        const std::string cameraId = cameraUid(uid, i, count);
        if (!camera->start(config, cameraId, relayAddress)) {
            std::fprintf(stderr, "camsim: camera %ld: %s\n", i, camera->lastError().c_str());
            return 1;
        }
        {
            const std::lock_guard<std::mutex> guard(*printLock);
            std::printf("camera %ld: UID %s at relay %s, user \"%s\"\n", i, cameraId.c_str(),
                        relayAddress.c_str(), config.user.c_str());
            std::fflush(stdout);
        }
        cameras.push_back(std::move(camera));
    }
    serveUntilQuit(*printLock, cameras);
    relay.stop();
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
    if (std::strcmp(argv[1], "relay") == 0) {
        return runRelay(argc - 2, argv + 2);
    }
    if (std::strcmp(argv[1], "p2p") == 0) {
        return runP2p(argc - 2, argv + 2);
    }
    if (std::strcmp(argv[1], "sdkcam") == 0) {
        return runSdkCamera(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "camsim: unknown kind '%s'\n%s", argv[1], kUsage);
    return 2;
}
