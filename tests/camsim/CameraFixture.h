#pragma once

#include "RawClient.h"

#include "camsim/H264Camera.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace camtest {

// Short loops keep start-up quick: 50 frames (two key frames) per stream, encoded once per run.
std::shared_ptr<const camsim::StreamLibrary> testStreams();

// True once `condition` holds, polling for up to `timeoutMs`.
bool eventually(const std::function<bool()>& condition, unsigned timeoutMs = 2000);

// Path of the ffmpeg program, or empty when it is not installed (tests that use it skip).
std::string ffmpegProgram();
// Runs ffmpeg with `arguments`, feeding `input` on standard input; returns standard output.
std::vector<uint8_t> runFfmpeg(const std::string& arguments, const std::vector<uint8_t>& input);

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { camera.stop(); }
    // Restarts the camera with changes applied to the default test configuration.
    void restart(const std::function<void(camsim::CameraConfig&)>& change);

    // A control connection that has logged in and read the login reply and notices.
    void loginControl(RawClient& client);
    // A live media connection logged in for `streamType`.
    void loginLive(RawClient& client, uint8_t streamType);

    camsim::H264Camera camera{testStreams()};
    camsim::BoundPorts ports;
};

} // namespace camtest
