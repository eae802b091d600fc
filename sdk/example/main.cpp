// moltrex_example: the way a host program starts with the SDK. It searches the LAN, connects the
// monitor session to the first camera that answered (or the one named with --id), starts video
// and writes the first few pictures it receives as PPM image files.
//
//   moltrex_example --pictures 3 --out /tmp/pictures
//   moltrex_example --search-address 127.0.0.1:10000 --user admin --password admin
//
// Everything arrives through one callback on the library's threads; the main thread waits for
// what it needs under a lock.

#include "moltrex/moltrex.h"

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<MO_SEARCH_RECORD> cameras; // guarded by lock, as is everything below
    bool searchEnded = false;
    int loginStatus = 1; // 1: not yet known
    bool sessionEnded = false;
    int sessionStatus = 0;
    int written = 0;
    int wanted = 3;
    std::string folder = ".";
    std::string cameraId;
};

State g_state;

int statusOf(intptr_t value) {
    return static_cast<int>(value);
}

// Writes one picture as a binary PPM, the simplest file any image viewer opens.
bool writePicture(const MO_FRAME& frame, const std::string& path) {
    uint8_t* rgb = nullptr;
    int width = 0;
    int height = 0;
    int bits = 0;
    if (!JpegToRGB(&frame.picture, &rgb, &width, &height, &bits, 0))
        return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        std::fprintf(file, "P6\n%d %d\n255\n", width, height);
        const size_t bytes = static_cast<size_t>(width) * height * 3;
        ok = std::fwrite(rgb, 1, bytes, file) == bytes;
        ok = std::fclose(file) == 0 && ok;
    }
    if (ok) {
        const uint8_t* centre = rgb + ((height / 2) * static_cast<size_t>(width) + width / 2) * 3;
        std::printf("picture %u (time stamp %u): %dx%d, centre R=%u G=%u B=%u -> %s\n",
                    frame.frameTime, frame.timeStamp, width, height, centre[0], centre[1],
                    centre[2], path.c_str());
    }
    FreeMemory(rgb);
    return ok;
}

void onNotify(unsigned int message, MO_WPARAM wParam, MO_LPARAM lParam) {
    State& s = g_state;
    switch (message) {
    case MO_MSG_SEARCH: {
        auto* record = reinterpret_cast<MO_SEARCH_RECORD*>(lParam);
        std::lock_guard guard(s.lock);
        if (record != nullptr) {
            s.cameras.push_back(*record);
            FreeMemory(record);
        } else {
            s.searchEnded = true;
        }
        break;
    }
    case MO_MSG_MONITOR_LOGIN: {
        std::lock_guard guard(s.lock);
        s.loginStatus = statusOf(lParam);
        if (s.loginStatus == MO_OK)
            PlayVideo(s.cameraId.c_str()); // allowed from inside a notification
        break;
    }
    case MO_MSG_MONITOR_END: {
        std::lock_guard guard(s.lock);
        s.sessionEnded = true;
        s.sessionStatus = statusOf(lParam);
        break;
    }
    case MO_MSG_VIDEO_START:
        if (statusOf(lParam) != MO_OK)
            std::printf("the camera refused video: %d\n", statusOf(lParam));
        break;
    case MO_MSG_PICTURE:
    case MO_MSG_PICTURE_FLUSH: {
        auto* frame = reinterpret_cast<MO_FRAME*>(lParam);
        std::lock_guard guard(s.lock);
        if (s.written < s.wanted) {
            const std::string path =
                s.folder + "/picture-" + std::to_string(s.written + 1) + ".ppm";
            if (writePicture(*frame, path))
                ++s.written;
        }
        FreeMemory(frame);
        break;
    }
    default:
        // Audio blocks, counters and reports: records we do not use are still ours to free.
        if (message == MO_MSG_AUDIO || message == MO_MSG_AUDIO_FLUSH || message == MO_MSG_COUNTERS)
            FreeMemory(reinterpret_cast<void*>(lParam));
        break;
    }
    // Every 22xx/23xx message carries a copy of the camera id.
    if (message >= MO_MSG_MGR_LOGIN)
        FreeMemory(reinterpret_cast<void*>(wParam));
    s.changed.notify_all();
}

template <typename Predicate> bool waitFor(Predicate ready, int seconds) {
    std::unique_lock guard(g_state.lock);
    return g_state.changed.wait_for(guard, std::chrono::seconds(seconds), ready);
}

std::string dotted(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

constexpr const char* kUsage =
    "usage: moltrex_example [options]\n"
    "  --search-address A[:P]  send the search there instead of the broadcast (for a camera\n"
    "                          on this host: 127.0.0.1:10000)\n"
    "  --id ID                 the camera to watch (default: the first that answers)\n"
    "  --user U --password X   login (default admin / admin)\n"
    "  --pictures N            pictures to write (default 3)\n"
    "  --out DIR               folder for picture-1.ppm, picture-2.ppm... (default .)\n"
    "  --timeout MS            search time-out (default 1000)\n";

} // namespace

int main(int argc, char** argv) {
    std::string user = "admin";
    std::string password = "admin";
    std::string wantedId;
    uint32_t timeoutMs = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--search-address" && hasValue) {
            // Read by the library when the search starts; the answers then come to any port.
            ::setenv("MOLTREX_SEARCH_ADDRESS", argv[++i], 1);
            ::setenv("MOLTREX_SEARCH_LOCAL_PORT", "0", 1);
        } else if (option == "--id" && hasValue) {
            wantedId = argv[++i];
        } else if (option == "--user" && hasValue) {
            user = argv[++i];
        } else if (option == "--password" && hasValue) {
            password = argv[++i];
        } else if (option == "--pictures" && hasValue) {
            g_state.wanted = std::atoi(argv[++i]);
        } else if (option == "--out" && hasValue) {
            g_state.folder = argv[++i];
        } else if (option == "--timeout" && hasValue) {
            timeoutMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fputs(kUsage, option == "--help" ? stdout : stderr);
            return option == "--help" ? 0 : 2;
        }
    }

    if (const int16_t status = SearchCamera(0, 0, onNotify, timeoutMs); status != MO_OK) {
        std::fprintf(stderr, "SearchCamera: %d\n", status);
        return 1;
    }
    // Each wait of the search lasts the time-out; ten of them at the most.
    waitFor([] { return g_state.searchEnded; }, static_cast<int>(timeoutMs / 100 + 5));
    MO_SEARCH_RECORD chosen{};
    {
        std::lock_guard guard(g_state.lock);
        for (const MO_SEARCH_RECORD& camera : g_state.cameras) {
            std::printf("camera %s \"%s\" at %s:%u, firmware %08X/%08X\n", camera.id, camera.name,
                        dotted(camera.ip).c_str(), ntohs(camera.httpPort), camera.sysVersion,
                        camera.appVersion);
            if (chosen.id[0] == '\0' && (wantedId.empty() || wantedId == camera.id))
                chosen = camera;
        }
        if (chosen.id[0] == '\0') {
            std::fprintf(stderr, "no camera answered%s\n", wantedId.empty() ? "" : " with that id");
            return 1;
        }
        g_state.cameraId = chosen.id;
    }

    const int16_t status = MonitorConnect(chosen.id, user.c_str(), password.c_str(),
                                          ntohl(chosen.ip), ntohs(chosen.httpPort), 0, 0, onNotify);
    if (status != MO_OK) {
        std::fprintf(stderr, "MonitorConnect: %d\n", status);
        return 1;
    }
    waitFor([] { return g_state.loginStatus != 1 || g_state.sessionEnded; }, 20);
    {
        std::lock_guard guard(g_state.lock);
        if (g_state.loginStatus != MO_OK) {
            std::fprintf(stderr, "monitor login failed: %d\n", g_state.loginStatus);
            return 1;
        }
    }
    const bool done =
        waitFor([] { return g_state.written >= g_state.wanted || g_state.sessionEnded; }, 30);
    MonitorDisconnect(chosen.id);
    waitFor([] { return g_state.sessionEnded; }, 10);
    std::lock_guard guard(g_state.lock);
    if (!done || g_state.written < g_state.wanted) {
        std::fprintf(stderr, "only %d of %d pictures (session status %d)\n", g_state.written,
                     g_state.wanted, g_state.sessionStatus);
        return 1;
    }
    std::printf("%d pictures written to %s\n", g_state.written, g_state.folder.c_str());
    return 0;
}
