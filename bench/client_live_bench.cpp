// The client's live pipeline end to end: 16 simulated 720p H.264 cameras at 25 fps, each decoded
// and drawn into its pane of an offscreen grid and recorded by schedule, in one run:
//   - client CPU per displayed frame against libavcodec decoding the same stream single-threaded
//     (the decode is most of the work; the rest is the pipeline's overhead);
//   - frames lost on screen (gaps in the cameras' frame numbers) and in the recordings (frames
//     the record queue had to drop);
//   - camera-to-pane latency: the cameras stamp their send time into a header word, the session
//     reports each picture that reached its pane.
// The cameras run in a child process, so the parent's CPU time is the client's alone.
//
//   client_live_bench [seconds, default 10] [cameras, default 16]

#include "BenchSupport.h"
#include "DeviceFactory.h"
#include "camsim/H264Camera.h"
#include "camsim/StreamLibrary.h"
#include "db/sqlite3x.h"
#include "device/PubFun.h"
#include "video/DDraw.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using bench::monotonicMs;
using bench::processCpuMs;

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The child: cameras stamping their send time. Prints "port webPort" per camera, then "ready",
// and serves until its input closes.
int runCameras(int count, FILE* report, int quitFd) {
    std::vector<std::unique_ptr<camsim::H264Camera>> cameras;
    for (int i = 0; i < count; ++i) {
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.udt = false;
        config.stampSendTime = true;
        auto camera = std::make_unique<camsim::H264Camera>();
        const auto ports = camera->start(config);
        if (!ports)
            return 1;
        std::fprintf(report, "%u %u\n", ports->port, ports->webPort);
        cameras.push_back(std::move(camera));
    }
    std::fprintf(report, "ready\n");
    std::fflush(report);
    bench::CameraProcess::waitForStop(quitFd);
    for (auto& c : cameras)
        c->stop();
    return 0;
}

// libavcodec alone, one thread, over the cameras' own stream: CPU ms per frame. With several
// decoders, each decodes its own copy of the stream and they take turns frame by frame, as the
// cameras' frames arrive in the client: every decoder's reference pictures then compete for the
// caches, which one decoder alone never sees.
double ffmpegDecodeMsPerFrame(int rounds, int decoders) {
    std::string error;
    const auto streams = camsim::StreamLibrary::shared(error);
    if (!streams)
        return 0;
    const camsim::VideoLoop& loop = streams->video(camsim::StreamKind::Main);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    std::vector<AVCodecContext*> contexts;
    for (int i = 0; i < decoders; ++i) {
        AVCodecContext* context = avcodec_alloc_context3(codec);
        context->thread_count = 1;
        avcodec_open2(context, codec, nullptr);
        contexts.push_back(context);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int decoded = 0;
    const double start = threadCpuMs();
    for (int round = 0; round < rounds; ++round) {
        for (const auto& encoded : loop.frames) {
            for (AVCodecContext* context : contexts) {
                av_new_packet(packet, static_cast<int>(encoded.data.size()));
                std::memcpy(packet->data, encoded.data.data(), encoded.data.size());
                avcodec_send_packet(context, packet);
                av_packet_unref(packet);
                while (avcodec_receive_frame(context, frame) == 0)
                    ++decoded;
            }
        }
    }
    const double spent = threadCpuMs() - start;
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (AVCodecContext* context : contexts)
        avcodec_free_context(&context);
    return decoded ? spent / decoded : 0;
}

struct PaneStats {
    std::mutex lock;
    std::vector<int> latencyMs;
    int lastNumber = -1;
    uint64_t shown = 0;
    uint64_t gaps = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
    const int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 16) : 16;

    bench::CameraProcess cameras;
    std::vector<std::pair<unsigned, unsigned>> ports;
    for (const auto& line : cameras.start([count](FILE* report, int quitFd) {
             return runCameras(count, report, quitFd);
         })) {
        unsigned port = 0, web = 0;
        if (std::sscanf(line.c_str(), "%u %u", &port, &web) == 2)
            ports.emplace_back(port, web);
    }
    if (static_cast<int>(ports.size()) != count) {
        std::fprintf(stderr, "the cameras did not start\n");
        return 1;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1600, 900);
    CDDrawView view;
    view.InitDDraw7(&window, 1920, 1080);
    view.SetWndStyle(16, 0);
    window.show();
    QApplication::processEvents();

    // A data folder: the delivered database, record folders, a plan that records all day.
    const fs::path root = fs::temp_directory_path() / ("vistaro-live-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "records");
    fs::copy_file(VISTARO_DELIVERED_DB, root / "doDAV.db");
    sqlite3x::sqlite3_connection database;
    database.open(root / "doDAV.db");
    std::mutex databaseLock;
    {
        sqlite3x::sqlite3_command paths(database,
                                        "insert into path(autologpath, picturepath, logHistory, "
                                        "captureMode, recordpath) values('', ?, 0, 0, ?);");
        paths.bind(1, (root / "pictures").string());
        paths.bind(2, (root / "records").string());
        paths.executenonquery();
        const std::string allDay = "4294967295,4294967295,4294967295-0,0,0";
        for (int i = 0; i < count; ++i) {
            sqlite3x::sqlite3_command plan(
                database, "insert into recordplan(day0,day1,day2,day3,day4,day5,day6,pEnable,"
                          "aEnable,mac) values(?,?,?,?,?,?,?,1,0,?);");
            for (int day = 1; day <= 7; ++day)
                plan.bind(day, allDay);
            plan.bind(8, "00:CA:5E:BE:00:" + std::to_string(10 + i));
            plan.executenonquery();
        }
    }
    client::CPubFun pubFun(database, databaseLock, nullptr);
    pubFun.SelectPathfromDB();

    std::vector<PaneStats> stats(static_cast<size_t>(count));
    std::atomic<bool> measuring{false};
    Device::DeviceEnvironment environment;
    environment.view = &view;
    environment.pubFun = &pubFun;
    environment.record.database = &database;
    environment.record.databaseLock = &databaseLock;
    environment.frameShown = [&](int paneId, const FRAME_HEAD& frame) {
        PaneStats& s = stats[static_cast<size_t>(paneId)];
        const int latency =
            static_cast<int>(((monotonicMs() & 0x7fffffff) - frame.cameraWord1) & 0x7fffffff);
        std::lock_guard lock(s.lock);
        if (measuring) {
            ++s.shown;
            s.latencyMs.push_back(latency);
            if (s.lastNumber >= 0 && frame.cameraWord0 != s.lastNumber + 1)
                s.gaps += static_cast<uint64_t>(std::abs(frame.cameraWord0 - s.lastNumber - 1));
        }
        s.lastNumber = frame.cameraWord0;
    };

    std::vector<Device::ViewPane> panes(static_cast<size_t>(count));
    std::vector<std::unique_ptr<Device::CSigleDevice>> sessions;
    for (int i = 0; i < count; ++i) {
        panes[static_cast<size_t>(i)].paneId = static_cast<int16_t>(i);
        auto session = Device::createDevice(environment, nullptr, Device::kClassH264);
        session->SetAddress("127.0.0.1", static_cast<int>(ports[static_cast<size_t>(i)].first),
                            static_cast<int>(ports[static_cast<size_t>(i)].second));
        session->SetUser("admin", "admin");
        session->SetStreamType(session->SwitchStream());
        session->OpenDevice(&panes[static_cast<size_t>(i)], false);
        session->SetRecordEnable(false, true);
        session->StartPlanThread("00:CA:5E:BE:00:" + std::to_string(10 + i));
        sessions.push_back(std::move(session));
    }

    const auto pump = [&](std::chrono::milliseconds duration) {
        const auto end = Clock::now() + duration;
        while (Clock::now() < end) {
            view.Flip();
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    };
    pump(std::chrono::seconds(3)); // logins, first key frames, files opened
    const double cpuBefore = processCpuMs();
    measuring = true;
    pump(std::chrono::seconds(seconds));
    measuring = false;
    const double cpuMs = processCpuMs() - cpuBefore;

    uint64_t shown = 0, gaps = 0, written = 0, dropped = 0;
    std::vector<int> latency;
    for (auto& s : stats) {
        std::lock_guard lock(s.lock);
        shown += s.shown;
        gaps += s.gaps;
        latency.insert(latency.end(), s.latencyMs.begin(), s.latencyMs.end());
    }
    for (auto& session : sessions) {
        written += static_cast<uint64_t>(session->recorder().framesWritten(1));
        dropped += session->recorder().queueDroppedFrames();
        session->StopPlanThread();
    }
    sessions.clear();
    cameras.stop();

    const double decodeMs = ffmpegDecodeMsPerFrame(4, 1);
    const double interleavedMs = ffmpegDecodeMsPerFrame(1, count);
    std::sort(latency.begin(), latency.end());
    const auto percentile = [&](double p) {
        return latency.empty() ? 0 : latency[static_cast<size_t>(p * (latency.size() - 1))];
    };
    const double perFrame = shown ? cpuMs / double(shown) : 0;
    std::printf("%d cameras, %d s measured, drawing into a 4x4 grid and recording by schedule\n",
                count, seconds);
    std::printf("shown %llu frames (%.1f fps per camera), lost on screen %llu\n",
                static_cast<unsigned long long>(shown), double(shown) / seconds / count,
                static_cast<unsigned long long>(gaps));
    std::printf("client CPU %.0f ms = %.2f ms per shown frame; libavcodec alone %.2f ms per frame; "
                "ratio %.2f\n",
                cpuMs, perFrame, decodeMs, decodeMs > 0 ? perFrame / decodeMs : 0.0);
    std::printf("libavcodec with %d decoders taking turns %.2f ms per frame; ratio %.2f\n", count,
                interleavedMs, interleavedMs > 0 ? perFrame / interleavedMs : 0.0);
    std::printf("recorded: %llu frames in the schedule files (whole run), dropped by the record "
                "queue %llu\n",
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(dropped));
    std::printf("camera-to-pane latency: median %d ms, 95th percentile %d ms\n", percentile(0.5),
                percentile(0.95));
    fs::remove_all(root);
    return 0;
}
