#pragma once

// What the control tests share: a sink that records commands, scratch folders, the ffmpeg
// oracle, and a frequency estimate for the audio that cameras heard.

#include "device/control/CommandSink.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace controltest {

struct Sent {
    Sent(int c, intptr_t p1, intptr_t p2) : code(c), param1(p1), param2(p2) {}
    int code;
    intptr_t param1;
    intptr_t param2;
    std::string text; // names: the text param1 pointed to; talk data: the bytes

    bool operator==(const Sent& o) const {
        return code == o.code && param1 == o.param1 && param2 == o.param2;
    }
};
inline void PrintTo(const Sent& s, std::ostream* out) {
    *out << "(" << s.code << ", " << s.param1 << ", " << s.param2 << ")";
}

// Records every command, with what its pointer showed during the call.
class RecordingSink final : public Device::CommandSink {
public:
    bool sendCommand(int code, intptr_t param1, intptr_t param2) override {
        Sent sent(code, param1, param2);
        if (code == 45 || (code >= 48 && code <= 50))
            sent.text = reinterpret_cast<const char*>(param1);
        else if (code == 4)
            sent.text.assign(reinterpret_cast<const char*>(param1), static_cast<size_t>(param2));
        std::lock_guard lock(m_lock);
        m_sent.push_back(std::move(sent));
        return true;
    }
    std::vector<Sent> sent() const {
        std::lock_guard lock(m_lock);
        return m_sent;
    }
    size_t count(int code) const {
        const auto all = sent();
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [&](const Sent& s) { return s.code == code; }));
    }
    void clear() {
        std::lock_guard lock(m_lock);
        m_sent.clear();
    }

private:
    mutable std::mutex m_lock;
    std::vector<Sent> m_sent; // guarded by m_lock
};

// A fresh folder under the test's temporary directory.
inline std::filesystem::path scratchDir(const std::string& name) {
    static int serial = 0;
    const auto dir =
        std::filesystem::path(testing::TempDir()) /
        ("control_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Runs a shell command and returns its standard output; fails the test when it exits non-zero.
inline std::string run(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

// Sets an environment variable for the lifetime of the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// The operator's microphone for a test: the "wav" capture device reading 1.5 s of a 1 kHz sine
// that ffmpeg made, then silence.
class WavMicrophone : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::filesystem::path tone = [] {
            const auto path = scratchDir("microphone") / "tone.wav";
            run("ffmpeg -v error -f lavfi -i sine=frequency=1000:sample_rate=8000:duration=1.5 "
                "-ac 1 -c:a pcm_s16le '" +
                path.string() + "'");
            return path;
        }();
        m_device.emplace("ZQAUDIO_DEVICE", "wav");
        m_input.emplace("ZQAUDIO_WAV_IN", tone.string());
    }

private:
    std::optional<ScopedEnv> m_device, m_input;
};

// Power of `frequency` in `samples` (Goertzel).
inline double tonePower(const std::vector<int16_t>& samples, double frequency, int rate) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
    double s1 = 0, s2 = 0;
    for (int16_t sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

// The strongest frequency between 100 Hz and just under half the rate, in 10 Hz steps.
inline double dominantFrequency(const std::vector<int16_t>& samples, int rate = 8000) {
    double best = 0, bestPower = -1;
    for (double f = 100; f < rate / 2.0 - 50; f += 10) {
        if (const double power = tonePower(samples, f, rate); power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

inline double rms(const int16_t* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

// Polls `done` every 5 ms for up to `timeoutMs`; its last answer.
template <typename Pred> bool waitFor(Pred done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace controltest
