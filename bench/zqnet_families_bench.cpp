// Client CPU per delivered picture for the three camera families, in one run:
//   H.264 over TCP (the baseline), MJPEG over TCP, and H.264 by UID through the relay.
//
// The cameras (and the relay) run in a child process, so the parent's CPU time (user + system,
// all threads) is the client's alone: the library's channel threads and, for peer-to-peer, the
// session's own reader and writer threads. Each phase opens its sessions, lets them settle,
// then measures for the given time and closes them.
//
//   zqnet_families_bench [seconds per phase, default 10] [h264 cameras 8] [mjpeg 16] [p2p 8]

#include "BenchSupport.h"
#include "camsim/H264Camera.h"
#include "camsim/MjpegCamera.h"
#include "camsim/P2pCamera.h"
#include "iotc/Relay.h"
#include "iotc/iotc.h"
#include "zqnet/zqnet.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Layout {
    int h264 = 8;
    int mjpeg = 16;
    int p2p = 8;
};

// What the child tells the parent: one line per camera, then "ready".
//   h264 <port> <webPort> | mjpeg <port> <webPort> | relay <port> | p2p <uid>
int runCameras(const Layout& layout, FILE* report, int quitFd) {
    std::vector<std::unique_ptr<camsim::H264Camera>> h264;
    for (int i = 0; i < layout.h264; ++i) {
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.udt = false;
        auto camera = std::make_unique<camsim::H264Camera>();
        const auto ports = camera->start(config);
        if (!ports)
            return 1;
        std::fprintf(report, "h264 %u %u\n", ports->port, ports->webPort);
        h264.push_back(std::move(camera));
    }
    std::vector<std::unique_ptr<camsim::MjpegCamera>> mjpeg;
    for (int i = 0; i < layout.mjpeg; ++i) {
        camsim::MjpegCameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.framesPerSecond = 15;
        auto camera = std::make_unique<camsim::MjpegCamera>();
        const auto ports = camera->start(config);
        if (!ports)
            return 1;
        std::fprintf(report, "mjpeg %u %u\n", ports->port, ports->webPort);
        mjpeg.push_back(std::move(camera));
    }
    iotc::Relay relay;
    const auto relayPort = relay.start("127.0.0.1", 0);
    if (!relayPort)
        return 1;
    std::fprintf(report, "relay %u\n", *relayPort);
    const std::string relayAddress = "127.0.0.1:" + std::to_string(*relayPort);
    std::vector<std::unique_ptr<camsim::P2pCamera>> p2p;
    for (int i = 0; i < layout.p2p; ++i) {
        char uid[32];
        std::snprintf(uid, sizeof uid, "VSTRBENCHP2P%08d", i);
        auto camera = std::make_unique<camsim::P2pCamera>();
        if (!camera->start({}, uid, i == 0 ? relayAddress : std::string()))
            return 1;
        std::fprintf(report, "p2p %s\n", uid);
        p2p.push_back(std::move(camera));
    }
    std::fprintf(report, "ready\n");
    std::fflush(report);
    bench::CameraProcess::waitForStop(quitFd);
    for (auto& c : p2p)
        c->stop();
    relay.stop();
    for (auto& c : mjpeg)
        c->stop();
    for (auto& c : h264)
        c->stop();
    return 0;
}

struct Counter {
    std::atomic<uint64_t> frames{0};
};

void onFrame(int type, FRAME_HEAD*, void* user, int) {
    if (type == ZQ_MEDIA_VIDEO)
        static_cast<Counter*>(user)->frames++;
}

int onEvent(int, int, int*, void*, int) {
    return 0;
}

using bench::processCpuMs;

struct Camera {
    int type;
    DEVICE_PARAM param;
};

struct PhaseResult {
    uint64_t frames = 0;
    double cpuMs = 0;
    double perFrameUs() const { return frames ? cpuMs * 1e3 / double(frames) : 0; }
};

PhaseResult runPhase(std::vector<Camera>& cameras, int seconds) {
    std::vector<Counter> counters(cameras.size());
    std::vector<NetHandle*> handles;
    for (size_t i = 0; i < cameras.size(); ++i)
        handles.push_back(zq_net_open(cameras[i].type, nullptr, &cameras[i].param, 0,
                                      static_cast<int>(i), 0, onEvent, onFrame, &counters[i]));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (auto* handle : handles)
        zq_net_setcommand(handle, 1, 0, 0); // start video (MJPEG cameras stream already)
    std::this_thread::sleep_for(std::chrono::seconds(2));

    uint64_t before = 0;
    for (auto& c : counters)
        before += c.frames;
    const double cpuBefore = processCpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    PhaseResult result;
    result.cpuMs = processCpuMs() - cpuBefore;
    for (auto& c : counters)
        result.frames += c.frames;
    result.frames -= before;
    for (auto* handle : handles)
        zq_net_close(handle);
    return result;
}

DEVICE_PARAM addressParam(unsigned port, unsigned webPort) {
    DEVICE_PARAM p{};
    std::snprintf(p.host, sizeof p.host, "127.0.0.1");
    std::snprintf(p.user, sizeof p.user, "admin");
    std::snprintf(p.password, sizeof p.password, "admin");
    p.port = static_cast<int>(port);
    p.httpPort = static_cast<uint16_t>(webPort);
    return p;
}

void print(const char* name, size_t cameras, int seconds, const PhaseResult& r,
           const PhaseResult& baseline) {
    std::printf("%-6s %2zu cameras: %6llu pictures (%5.1f fps each), CPU %7.1f ms, %6.1f us per "
                "picture, ratio to H.264/TCP %.2f\n",
                name, cameras, static_cast<unsigned long long>(r.frames),
                double(r.frames) / seconds / double(cameras ? cameras : 1), r.cpuMs,
                r.perFrameUs(), baseline.perFrameUs() > 0 ? r.perFrameUs() / baseline.perFrameUs()
                                                           : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    Layout layout;
    if (argc > 2)
        layout.h264 = std::max(1, std::atoi(argv[2]));
    if (argc > 3)
        layout.mjpeg = std::max(1, std::atoi(argv[3]));
    if (argc > 4)
        layout.p2p = std::max(1, std::atoi(argv[4]));

    bench::CameraProcess cameras;
    const auto reported =
        cameras.start([&](FILE* report, int quitFd) { return runCameras(layout, report, quitFd); });
    std::vector<Camera> h264, mjpeg, p2p;
    for (const auto& text : reported) {
        const char* line = text.c_str();
        unsigned port = 0, webPort = 0;
        char uid[80] = {};
        if (std::sscanf(line, "h264 %u %u", &port, &webPort) == 2) {
            h264.push_back({ZQ_TYPE_H264_TCP, addressParam(port, webPort)});
        } else if (std::sscanf(line, "mjpeg %u %u", &port, &webPort) == 2) {
            mjpeg.push_back({ZQ_TYPE_MJPEG, addressParam(port, webPort)});
        } else if (std::sscanf(line, "relay %u", &port) == 1) {
            const std::string relay = "127.0.0.1:" + std::to_string(port);
            IOTC_Initialize(0, relay.c_str(), nullptr, nullptr, nullptr);
        } else if (std::sscanf(line, "p2p %79s", uid) == 1) {
            DEVICE_PARAM p = addressParam(0, 0);
            std::snprintf(p.host, sizeof p.host, "%s", uid);
            p2p.push_back({ZQ_TYPE_H264_P2P, p});
        }
    }
    if (h264.size() != size_t(layout.h264) || mjpeg.size() != size_t(layout.mjpeg) ||
        p2p.size() != size_t(layout.p2p)) {
        std::fprintf(stderr, "the cameras did not start\n");
        return 1;
    }

    const PhaseResult tcp = runPhase(h264, seconds);
    const PhaseResult jpeg = runPhase(mjpeg, seconds);
    const PhaseResult relayed = runPhase(p2p, seconds);
    cameras.stop();

    std::printf("%d s per phase, client process CPU (all threads)\n", seconds);
    print("h264", h264.size(), seconds, tcp, tcp);
    print("mjpeg", mjpeg.size(), seconds, jpeg, tcp);
    print("p2p", p2p.size(), seconds, relayed, tcp);
    return tcp.frames && jpeg.frames && relayed.frames ? 0 : 1;
}
