// Receive-and-parse cost of libzqnet against a plain recv loop reading the same streams.
//
// 16 simulated cameras (25 fps, about 2 Mbit/s each) run in this process. Phase 1 opens them
// through zq_net_open and counts delivered frames and lost frame numbers; phase 2 reads the
// same kind of stream with nothing but poll + recv. CPU time is taken per thread from the
// kernel (schedstat), only for the receiving threads, so the cameras' own work is left out.
//
//   zqnet_bench [seconds per phase, default 10] [cameras, default 16]

#include "camsim/H264Camera.h"
#include "zqnet/zqnet.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Nanoseconds on CPU of every thread of this process whose name is `name`.
uint64_t threadCpuNs(const std::string& name) {
    uint64_t total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return 0;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream comm(base + "/comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name)
            continue;
        std::ifstream schedstat(base + "/schedstat");
        uint64_t ns = 0;
        schedstat >> ns;
        total += ns;
    }
    closedir(tasks);
    return total;
}

struct Counter {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> lost{0};
    int lastNumber = -1; // NetThread of this session only
};

void onFrame(int type, FRAME_HEAD* frame, void* user, int) {
    auto* counter = static_cast<Counter*>(user);
    if (type != ZQ_MEDIA_VIDEO)
        return;
    if (counter->lastNumber >= 0 && frame->cameraWord0 != counter->lastNumber + 1)
        counter->lost +=
            static_cast<uint64_t>(std::abs(frame->cameraWord0 - counter->lastNumber - 1));
    counter->lastNumber = frame->cameraWord0;
    counter->frames++;
    counter->bytes += static_cast<uint64_t>(frame->length) + 48;
}

int onEvent(int, int, int*, void*, int) {
    return 0;
}

std::vector<uint8_t> liveLogin() {
    std::vector<uint8_t> packet(12 + 161, 0);
    const int32_t length = 161;
    std::memcpy(packet.data() + 4, "ZQNT", 4);
    std::memcpy(packet.data() + 8, &length, 4);
    std::memcpy(packet.data() + 13, "admin", 5);
    std::memcpy(packet.data() + 12 + 65, "admin", 5);
    return packet;
}

// The baseline: log in, then poll + recv into a scratch buffer until told to stop.
void rawReader(uint16_t port, std::atomic<bool>& stop, std::atomic<uint64_t>& bytes) {
    pthread_setname_np(pthread_self(), "RawRecv");
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return;
    }
    const auto login = liveLogin();
    send(fd, login.data(), login.size(), MSG_NOSIGNAL);
    std::vector<char> buffer(64 * 1024);
    while (!stop) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 10) <= 0)
            continue;
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            break;
        bytes += static_cast<uint64_t>(got);
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 16;

    std::vector<std::unique_ptr<camsim::H264Camera>> cameras;
    std::vector<uint16_t> ports, webPorts;
    for (int i = 0; i < count; ++i) {
        auto camera = std::make_unique<camsim::H264Camera>();
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.udt = false;
        const auto bound = camera->start(config);
        if (!bound) {
            std::fprintf(stderr, "camera %d: %s\n", i, camera->lastError().c_str());
            return 1;
        }
        ports.push_back(bound->port);
        webPorts.push_back(bound->webPort);
        cameras.push_back(std::move(camera));
    }

    // Phase 1: libzqnet.
    std::vector<DEVICE_PARAM> params(static_cast<size_t>(count));
    std::vector<Counter> counters(static_cast<size_t>(count));
    std::vector<NetHandle*> handles;
    for (int i = 0; i < count; ++i) {
        DEVICE_PARAM& p = params[static_cast<size_t>(i)];
        std::snprintf(p.host, sizeof p.host, "127.0.0.1");
        std::snprintf(p.user, sizeof p.user, "admin");
        std::snprintf(p.password, sizeof p.password, "admin");
        p.port = ports[static_cast<size_t>(i)];
        p.httpPort = webPorts[static_cast<size_t>(i)];
        handles.push_back(zq_net_open(ZQ_TYPE_H264_TCP, nullptr, &p, 0, i, 258, onEvent, onFrame,
                                      &counters[static_cast<size_t>(i)]));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2)); // logins, first key frames
    uint64_t framesBefore = 0, bytesBefore = 0, lostBefore = 0;
    for (auto& c : counters) {
        framesBefore += c.frames;
        bytesBefore += c.bytes;
        lostBefore += c.lost;
    }
    const uint64_t cpuBefore = threadCpuNs("NetThread");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t zqCpu = threadCpuNs("NetThread") - cpuBefore;
    uint64_t frames = 0, bytes = 0, lost = 0;
    for (auto& c : counters) {
        frames += c.frames;
        bytes += c.bytes;
        lost += c.lost;
    }
    frames -= framesBefore;
    bytes -= bytesBefore;
    lost -= lostBefore;
    for (auto* h : handles)
        zq_net_close(h);

    // Phase 2: plain recv loops on the same cameras.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> rawBytes{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < count; ++i)
        readers.emplace_back(rawReader, ports[static_cast<size_t>(i)], std::ref(stop),
                             std::ref(rawBytes));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t rawBytesBefore = rawBytes;
    const uint64_t rawCpuBefore = threadCpuNs("RawRecv");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t rawCpu = threadCpuNs("RawRecv") - rawCpuBefore;
    const uint64_t rawRead = rawBytes - rawBytesBefore;
    stop = true;
    for (auto& t : readers)
        t.join();
    for (auto& c : cameras)
        c->stop();

    const double zqPerMB = frames ? zqCpu / (bytes / 1e6) : 0;
    const double rawPerMB = rawRead ? rawCpu / (rawRead / 1e6) : 0;
    std::printf("cameras %d, %d s per phase\n", count, seconds);
    std::printf("zqnet : %llu frames (%.1f fps per camera), %.1f MB, lost frame numbers %llu, "
                "CPU %.1f ms = %.1f us/frame, %.0f us/MB\n",
                static_cast<unsigned long long>(frames), frames / double(seconds) / count,
                bytes / 1e6, static_cast<unsigned long long>(lost), zqCpu / 1e6,
                frames ? zqCpu / 1e3 / frames : 0.0, zqPerMB / 1e3);
    std::printf("recv  : %.1f MB, CPU %.1f ms, %.0f us/MB\n", rawRead / 1e6, rawCpu / 1e6,
                rawPerMB / 1e3);
    std::printf("ratio (zqnet CPU per byte / plain recv CPU per byte): %.2f\n",
                rawPerMB > 0 ? zqPerMB / rawPerMB : 0.0);
    return lost == 0 ? 0 : 1;
}
