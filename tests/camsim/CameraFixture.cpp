#include "CameraFixture.h"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace camtest {

std::shared_ptr<const camsim::StreamLibrary> testStreams() {
    static std::once_flag once;
    static std::shared_ptr<const camsim::StreamLibrary> library;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        std::string error;
        library = camsim::StreamLibrary::build({50, 25}, error);
        if (!library) {
            ADD_FAILURE() << "stream library: " << error;
        }
    });
    return library;
}

bool eventually(const std::function<bool()>& condition, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ffmpegProgram() {
    for (const char* path : {"/usr/bin/ffmpeg", "/usr/local/bin/ffmpeg"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::vector<uint8_t> runFfmpeg(const std::string& arguments, const std::vector<uint8_t>& input) {
    // The input goes through a file: writing a pipe while reading the other could deadlock.
    char inputPath[] = "/tmp/camsim-test-XXXXXX";
    const int fd = mkstemp(inputPath);
    if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        return {};
    }
    ::close(fd);
    const std::string command =
        ffmpegProgram() + " -v error -nostdin " +
        std::string(arguments).replace(arguments.find("{in}"), 4, inputPath) + " -";
    std::vector<uint8_t> output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        uint8_t chunk[4096];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            output.insert(output.end(), chunk, chunk + got);
        }
        pclose(pipe);
    }
    unlink(inputPath);
    return output;
}

void CameraTest::SetUp() {
    restart([](camsim::CameraConfig&) {});
}

void CameraTest::restart(const std::function<void(camsim::CameraConfig&)>& change) {
    camsim::CameraConfig config;
    config.listenAddress = "127.0.0.1";
    config.name = "test-cam";
    config.user = "admin";
    config.password = "secret";
    change(config);
    const auto bound = camera.start(config);
    ASSERT_TRUE(bound.has_value()) << camera.lastError();
    ports = *bound;
}

void CameraTest::loginControl(RawClient& client) {
    ASSERT_TRUE(client.connect(ports.port));
    ASSERT_TRUE(client.sendPacket(12, controlLoginPayload("admin", "secret", 5)));
    const auto reply = client.readPacket(2000);
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->command, 100);
    ASSERT_EQ(reply->word(0), 0);
    for (const int32_t notice : {106, 107, 110}) {
        const auto packet = client.readPacket(2000);
        ASSERT_TRUE(packet.has_value());
        ASSERT_EQ(packet->command, notice);
    }
}

void CameraTest::loginLive(RawClient& client, uint8_t streamType) {
    ASSERT_TRUE(client.connect(ports.port));
    ASSERT_TRUE(client.sendPacket(0, liveLoginPayload(streamType, "admin", "secret", 5)));
}

} // namespace camtest
