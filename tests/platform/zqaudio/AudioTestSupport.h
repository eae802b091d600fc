#pragma once

// Helpers shared by the zqaudio tests: the device variables for one test, scratch files, test
// signals and the ffmpeg oracle.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace zqtest {

using Bytes = std::vector<char>;
using Clock = std::chrono::steady_clock;

// Sets ZQAUDIO_DEVICE and the WAV file variables (empty: unset) for the lifetime of the object.
struct DeviceEnv {
    explicit DeviceEnv(const char* device, const std::string& wavIn = {},
                       const std::string& wavOut = {}) {
        ::setenv("ZQAUDIO_DEVICE", device, 1);
        ::setenv("ZQAUDIO_WAV_IN", wavIn.c_str(), 1);
        ::setenv("ZQAUDIO_WAV_OUT", wavOut.c_str(), 1);
    }
    ~DeviceEnv() {
        for (const char* name : {"ZQAUDIO_DEVICE", "ZQAUDIO_WAV_IN", "ZQAUDIO_WAV_OUT"})
            ::unsetenv(name);
    }
};

// A fresh file name in a directory of this test process, removed when the process ends.
inline std::string scratchPath(const std::string& name) {
    struct Dir {
        std::string path = testing::TempDir() + "zqaudio_test_" + std::to_string(::getpid());
        Dir() { std::filesystem::create_directories(path); }
        ~Dir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static Dir dir;
    static int serial = 0;
    return dir.path + "/" + std::to_string(++serial) + "_" + name;
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putSample(Bytes& out, int value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline int sampleAt(const Bytes& pcm, size_t index) {
    const auto lo = static_cast<unsigned char>(pcm[2 * index]);
    const auto hi = static_cast<unsigned char>(pcm[2 * index + 1]);
    return static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8));
}

// Samples first, first+1, ...: order and gaps can be read back from the values.
inline Bytes ramp(int first, size_t samples) {
    Bytes out;
    for (size_t i = 0; i < samples; ++i)
        putSample(out, first + static_cast<int>(i));
    return out;
}

// Noise-like samples, so a block taken from the wrong offset never matches by chance.
inline Bytes noise(size_t samples, uint32_t seed = 12345) {
    Bytes out;
    for (size_t i = 0; i < samples; ++i) {
        seed = seed * 1103515245u + 12345u;
        putSample(out, static_cast<int16_t>(seed >> 16));
    }
    return out;
}

// Runs a shell command and returns its standard output; fails the test when it exits non-zero.
inline Bytes run(const std::string& command) {
    Bytes out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + got);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

// Raw little-endian PCM turned into a WAV file by ffmpeg (an independent writer that also adds
// a LIST chunk before the data). `options` shape the output format.
inline void ffmpegWav(const Bytes& pcm, const std::string& path, const std::string& options = "") {
    const std::string raw = path + ".raw";
    writeFile(raw, pcm);
    run("ffmpeg -v error -y -f s16le -ar 8000 -ac 1 -i '" + raw + "' " + options + " '" + path +
        "'");
    std::remove(raw.c_str());
}

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls `done` every 5 ms for up to `timeoutMs`; its last answer.
template <typename Pred> bool waitFor(Pred done, int timeoutMs = 3000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace zqtest
